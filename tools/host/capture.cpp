#include "tools/host/capture.h"

#include <initguid.h>  // the codec GUIDs, defined once here
#include <wincodec.h>

#include <vector>

#include "tools/host/transcript.h"
#include "uiplugin/frame/gdi_owners.h"

namespace qxhost {
namespace {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_ != nullptr) p_->Release();
    }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    T **out() { return &p_; }
    T *operator->() const { return p_; }
    T *get() const { return p_; }

private:
    T *p_ = nullptr;
};

std::string Failed(const char *what, HRESULT hr) { return Format("%s: %s", what, HresultText(hr).c_str()); }

// Top-down 24-bit BGR rows, each padded to 4 bytes.
std::string WritePng(const std::wstring &path, UINT width, UINT height, UINT stride, std::vector<BYTE> &pixels) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void **>(factory.out()));
    if (FAILED(hr)) return Failed("CoCreateInstance(WIC imaging factory)", hr);
    ComPtr<IWICStream> stream;
    if (FAILED(hr = factory->CreateStream(stream.out()))) return Failed("CreateStream", hr);
    if (FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
        return Failed("InitializeFromFilename", hr);
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out())))
        return Failed("CreateEncoder(PNG)", hr);
    if (FAILED(hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache))) return Failed("encoder Initialize", hr);
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(hr = encoder->CreateNewFrame(frame.out(), nullptr))) return Failed("CreateNewFrame", hr);
    if (FAILED(hr = frame->Initialize(nullptr))) return Failed("frame Initialize", hr);
    if (FAILED(hr = frame->SetSize(width, height))) return Failed("SetSize", hr);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = frame->SetPixelFormat(&format))) return Failed("SetPixelFormat", hr);
    if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) return "the PNG encoder refused 24-bit BGR";
    if (FAILED(hr = frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()), pixels.data())))
        return Failed("WritePixels", hr);
    if (FAILED(hr = frame->Commit())) return Failed("frame Commit", hr);
    if (FAILED(hr = encoder->Commit())) return Failed("encoder Commit", hr);
    return "";
}

}  // namespace

std::string CaptureWindowPng(HWND window, const std::wstring &path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return Format("GetWindowRect failed, error %lu", GetLastError());
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return "the window has no area";

    qxgdi::ScreenDc screen;
    if (screen.get() == nullptr) return "no screen DC";
    qxgdi::MemoryDc memory(screen.get());
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, as the encoder takes rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    qxgdi::Bitmap bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (memory.get() == nullptr || bitmap.get() == nullptr || bits == nullptr) return "no bitmap for the copy";
    HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
    const BOOL copied = BitBlt(memory.get(), 0, 0, width, height, screen.get(), r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory.get(), old);
    if (!copied) return Format("BitBlt from the screen failed, error %lu", GetLastError());

    const UINT stride = (static_cast<UINT>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<const BYTE *>(bits), static_cast<const BYTE *>(bits) + stride * height);
    return WritePng(path, static_cast<UINT>(width), static_cast<UINT>(height), stride, pixels);
}

}  // namespace qxhost
