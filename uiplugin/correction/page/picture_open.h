#pragma once
// Win32 side of the stored picture path's rules (picture_path.h): the drive
// type, an open that does not follow the last component to elsewhere, the
// file type of the handle, and the page's memory of the picture its user
// picked with "Select file".
#ifndef UNICODE
#error "UNICODE must be defined before any Windows header"
#endif
#include <windows.h>

#include "uiplugin/correction/picture/picture_path.h"

// The stored path `path` (NUL-terminated) opened for reading if the rules
// allow it and the handle is a disk file; otherwise INVALID_HANDLE_VALUE and
// nothing left open. `keepPath` (may be null) is set to whether the record
// keeps the path: true only when it was left unopened because it lies on the
// network. `page` is the page being painted (any value, null included).
HANDLE OpenStoredPicture(HWND page, const wchar_t *path, bool *keepPath);

// "Select file" accepted `path` in `page`: the preview of that page may open
// it wherever it lies, for as long as the page lives. A later pick replaces it.
void RememberPickedPicture(HWND page, const wchar_t *path);

// The page is going away: its memory of the picked picture is freed.
void ForgetPickedPicture(HWND page);
