# Runs qx748host --script (both property sheets, driven by the host) and
# checks its transcript: the pages and their handles, the page's result
# reported for its own handle on Apply, the common UI's Apply callback
# marking the record, every control of each page in view, and the scripted
# settings in the final record.
# FRAME=platform runs the sheets in the platform's CommonPropertySheetUIW
# (--platform) and checks, in addition, the reasons the platform sent and
# that the pages went through the platform's own add-page call.
# DPI=N: the screen the run must have had. DPIS=a|b|c: one run at each, in
# the one prefix wine-run shares between DPIs (QX_WINE_DPI_SHARED).
#   cmake -DEMULATOR=a|b|c -DHOST=exe -DPLUGIN=dll [-DFRAME=platform] [-DDPI=N | -DDPIS=a|b] -P host_sheets_check.cmake
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(platform_args "")
if(FRAME STREQUAL "platform")
  set(platform_args --platform)
endif()
set(failures "")
function(expect what regex)
  if(NOT out MATCHES "${regex}")
    set(failures "${failures}\n  [${run_label}] ${what} (no match for: ${regex})" PARENT_SCOPE)
  endif()
endfunction()

macro(check_run)
execute_process(COMMAND ${emulator} ${HOST} ${platform_args} --script ${PLUGIN}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 540)
message("${out}")

if(NOT rc EQUAL 0)
  string(APPEND failures "\n  [${run_label}] exit code ${rc}, expected 0 ${err}")
endif()
expect("no contract violations" "qx748host: 0 contract violations")

# The document sheet: one page, the context keeping the very handle the add
# call returned.
if(out MATCHES "CPSFUNC_ADD_PROPSHEETPAGEW\\) +-> ([0-9a-fA-F]+), template 120")
  set(colorPage "${CMAKE_MATCH_1}")
else()
  string(APPEND failures "\n  the Color correction page (template 120) was not added")
  set(colorPage "none")
endif()
expect("the context holds the page handle" "page context: pageHandle ${colorPage},")
expect("the document opens unapplied" "the document opens with appliedFlag 0\n")

# Apply: the page reports CPSUI_OK for its own handle, then the common UI's
# callback sets appliedFlag, in that order, both before PSM_APPLY returns.
# (What the sheet answers the page is not examined.)
expect("Apply: SET_RESULT for the page, then APPLYNOW marks the record"
       "CPSFUNC_SET_RESULT\\) +-> -?[0-9]+, sheet [0-9a-fA-F]+, page ${colorPage}, result 1[^\n]*\n[^\n]*OEMCUIPCallback\\(CPSUICB_REASON_APPLYNOW\\) +-> 0, appliedFlag 1\n[^\n]*PSM_APPLY +-> 1, 1 Apply reached")

# The printer sheet: no items, INIT's Result the Version page's handle.
expect("no printer items" "CommonUIProp\\(OEMCUIP_PRNPROP, no items\\) +-> S_OK, cOEMOptItems 0")
if(out MATCHES "CPSFUNC_ADD_PROPSHEETPAGEW\\) +-> ([0-9a-fA-F]+), template 106")
  expect("printer INIT reports the page handle"
         "DevicePropertySheets\\(PROPSHEETUI_REASON_INIT\\) +-> S_OK, Result ${CMAKE_MATCH_1}, pages 1")
else()
  string(APPEND failures "\n  the Version page (template 106) was not added")
endif()
expect("the plug-in's sheet title" "DevicePropertySheets\\(PROPSHEETUI_REASON_GET_INFO_HEADER\\) +-> S_OK, Result 1, title \"OEM UI Page\"")

if(FRAME STREQUAL "platform")
  # Both sheets in the platform's function, each closed with OK.
  string(REGEX MATCHALL "\n +[0-9]+  CommonPropertySheetUIW +-> 1, \\*pResult 1," runs "${out}")
  list(LENGTH runs run_count)
  if(NOT run_count EQUAL 2)
    string(APPEND failures "\n  CommonPropertySheetUIW answered 1 (OK) for ${run_count} of the 2 sheets")
  endif()
  # Every sheet: the reasons in the platform's order, the plug-in's slot
  # behind each of INIT, GET_INFO_HEADER and DESTROY.
  foreach(slot DocumentPropertySheets DevicePropertySheets)
    expect("${slot}: INIT, GET_INFO_HEADER, the sheet, DESTROY, in order"
           "PFNPROPSHEETUI\\(PROPSHEETUI_REASON_INIT\\)[^\n]*\n(.*\n)?[^\n]*${slot}\\(PROPSHEETUI_REASON_INIT\\) +-> S_OK[^\n]*\n(.*\n)?[^\n]*PFNPROPSHEETUI\\(PROPSHEETUI_REASON_GET_INFO_HEADER\\)[^\n]*\n[^\n]*${slot}\\(PROPSHEETUI_REASON_GET_INFO_HEADER\\) +-> S_OK, Result 1[^\n]*\n(.*\n)?[^\n]*the platform's sheet window +-> found[^\n]*\n(.*\n)?[^\n]*PFNPROPSHEETUI\\(PROPSHEETUI_REASON_DESTROY\\)[^\n]*\n[^\n]*${slot}\\(PROPSHEETUI_REASON_DESTROY\\) +-> S_OK, Result 1\n(.*\n)?[^\n]*CommonPropertySheetUIW +->")
  endforeach()
  # The pages went through the platform's own add-page call, and the
  # document's INIT Result is the platform's page count as the plug-in got it.
  expect("the Color correction page is the platform's" "template 120, record [0-9]+ bytes, lParam [0-9a-fA-F]+, the platform's page")
  expect("the Version page is the platform's" "template 106, record [0-9]+ bytes, lParam [0-9a-fA-F]+, the platform's page")
  if(out MATCHES "CPSFUNC_GET_PAGECOUNT\\) +-> (-?[0-9]+), the platform's answer")
    expect("INIT reports the platform's page count"
           "DocumentPropertySheets\\(PROPSHEETUI_REASON_INIT\\) +-> S_OK, Result ${CMAKE_MATCH_1}, pages 1\n")
  else()
    string(APPEND failures "\n  the page count was not asked of the platform")
  endif()
  expect("the document sheet window, with the driver UI's title" "the platform's sheet window +-> found, [0-9a-fA-F]+, caption \"QX748 Document Properties\"")
else()
  expect("INIT reports the page count" "DocumentPropertySheets\\(PROPSHEETUI_REASON_INIT\\) +-> S_OK, Result 1, pages 1\n")
  expect("the sheet's result passed on" "DocumentPropertySheets\\(PROPSHEETUI_REASON_SET_RESULT\\) +-> S_OK, Result 1 for sheet result 1")
  expect("document DESTROY" "DocumentPropertySheets\\(PROPSHEETUI_REASON_DESTROY\\) +-> S_OK, Result 1")
endif()

# Each page shown whole: every control inside what the sheet leaves visible
# of the page (at the screen's DPI; the *_dpi144 runs take 144).
foreach(page "the Color correction page" "the Version page")
  expect("${page}: every control in view" "${page} in view +-> yes, all [1-9][0-9]* controls inside")
endforeach()

# The record after both sheets: what the script changed, and nothing else.
foreach(field "brightness +3" "contrast +0" "saturation +5" "cyanRed +0" "sharpness +0" "unsharpMask +1"
              "unsharpAmount +5" "unsharpRadius +10" "unsharpThreshold +5" "appliedFlag +1")
  expect("record field ${field}" "\n +${field}\n")
endforeach()

# Every text whole in its control, at the DPI the run was meant to have.
foreach(page "the Color correction page" "the Version page")
  expect("${page}: every text whole" "${page} texts whole +-> yes, all [1-9][0-9]* texts fit their controls at ${run_dpi} DPI")
endforeach()
# What the plug-in may change of its host's state, left as it found it.
expect("the host's state after the sheets" "the host's process state after the sheets +-> as before")
expect("the host's state after the release" "the host's process state after the plug-in's release +-> as before")
endmacro()

string(REPLACE "|" ";" DPIS "${DPIS}")
if(DPIS)
  foreach(run_dpi IN LISTS DPIS)
    set(run_label "${run_dpi} DPI")
    set(ENV{QX_WINE_DPI} "${run_dpi}")
    set(ENV{QX_WINE_DPI_SHARED} 1)
    check_run()
  endforeach()
else()
  set(run_dpi "[0-9]+")
  if(DPI)
    set(run_dpi "${DPI}")
  endif()
  set(run_label "one run")
  check_run()
endif()

if(failures)
  message(FATAL_ERROR "host sheet transcript checks failed:${failures}")
endif()
