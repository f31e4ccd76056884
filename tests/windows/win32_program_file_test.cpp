// nimbrel.exe as Windows sees it without running it: its icon at every size, its version and
// its manifest. The program is found beside the tests in the build tree (app/nimbrel.exe).
#include "pictures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::wstring program_path() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + L"..\\..\\app\\nimbrel.exe";
}

class ProgramFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module = LoadLibraryExW(program_path().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (module)
            FreeLibrary(module);
    }
    void SetUp() override { ASSERT_TRUE(module) << "cannot load nimbrel.exe as data"; }

    static std::string resource(LPCWSTR name, LPCSTR type) {
        const HRSRC found = FindResourceW(module, name, reinterpret_cast<LPCWSTR>(type));
        if (!found)
            return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }

    static HMODULE module;
};

HMODULE ProgramFile::module = nullptr;

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ProgramFile, IconIsTheConnectedPictureInPixelBlocksAtEverySize) {
    const std::string group = resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(group.size(), 6 + count * sizeof(IconGroupEntry));
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        sizes.insert(entry.width == 0 ? 256 : entry.width);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));

    const window_system::Picture& picture = main_window::connected_picture();
    constexpr COLORREF backdrop = RGB(255, 0, 255);
    for (const int size : sizes) {
        SCOPED_TRACE(size);
        const int id = LookupIconIdFromDirectoryEx(
            reinterpret_cast<BYTE*>(const_cast<char*>(group.data())), TRUE, size, size, 0);
        std::string bits = resource(MAKEINTRESOURCEW(id), RT_ICON);
        const HICON icon =
            CreateIconFromResourceEx(reinterpret_cast<BYTE*>(bits.data()), DWORD(bits.size()), TRUE,
                                     0x00030000, size, size, 0);
        ASSERT_TRUE(icon);
        const HDC dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* pixels = nullptr;
        const HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        SelectObject(dc, canvas);
        const HBRUSH brush = CreateSolidBrush(backdrop);
        const RECT all{0, 0, size, size};
        FillRect(dc, &all, brush);
        DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        // The AND mask too, which drawing with the alpha channel never shows.
        ICONINFO parts{};
        ASSERT_TRUE(GetIconInfo(icon, &parts));
        const HDC mask = CreateCompatibleDC(nullptr);
        SelectObject(mask, parts.hbmMask);
        int wrong_colours = 0;
        int wrong_mask = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const std::uint32_t argb =
                    picture.at(x * picture.width / size, y * picture.height / size);
                const bool opaque = argb >> 24;
                const COLORREF expected =
                    opaque ? RGB(argb >> 16 & 0xFF, argb >> 8 & 0xFF, argb & 0xFF) : backdrop;
                wrong_colours += GetPixel(dc, x, y) != expected;
                wrong_mask += GetPixel(mask, x, y) != (opaque ? RGB(0, 0, 0) : RGB(255, 255, 255));
            }
        EXPECT_EQ(wrong_colours, 0);
        EXPECT_EQ(wrong_mask, 0);
        DeleteDC(mask);
        DeleteObject(parts.hbmMask);
        DeleteObject(parts.hbmColor);
        DeleteObject(brush);
        DeleteDC(dc);
        DeleteObject(canvas);
        DestroyIcon(icon);
    }
}

TEST_F(ProgramFile, VersionNamesTheProductAndTheProjectVersion) {
    const std::wstring path = program_path();
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, DWORD(data.size()), data.data()));
    const auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)
                   ? std::wstring(value)
                   : std::wstring();
    };
    EXPECT_EQ(text(L"ProductName"), L"Travenor Nimbrel");
    EXPECT_EQ(text(L"ProductVersion"), NIMBREL_VERSION);
    EXPECT_EQ(text(L"OriginalFilename"), L"nimbrel.exe");
}

TEST_F(ProgramFile, ManifestAsksForPerMonitorDpiAndTheCurrentControls) {
    const std::string manifest = resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
    for (const char* part :
         {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm<",
          "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
          "PerMonitorV2, system<",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) // Windows 10 and 11
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

} // namespace
