// The feature-code window under Wine, with files dropped on it as the shell drops them: a drop
// block of 8-bit names sent as WM_DROPFILES.
#include "res/resource.h"
#include "tests/ui_dialogs/dialog_script.h"
#include "tests/win/gui_support.h"
#include "ui/dlg_hash_tool.h"
#include "tools/md5.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t Get(const Bytes& b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) {
        v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    }
    return v;
}

// The code as the PE format itself places the section table: after the optional header of the
// size the file header states.
std::string CodeOf(const Bytes& image) {
    const std::size_t nt = Get(image, 60, 4);
    const std::size_t sections = Get(image, nt + 6, 2);
    const std::size_t table = nt + 24 + Get(image, nt + 20, 2);
    Md5Digest digest;
    digest.Update(image.data() + table, sections * 40);
    digest.Final();
    std::string code = digest.HexDigest();
    for (char& c : code) {
        c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    }
    return code;
}

// A drop block as the shell makes it: a DROPFILES header, then the names, each ended by a NUL,
// and one more NUL.
HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::string names;
    for (const std::string& p : paths) {
        names += p;
        names += '\0';
    }
    names += '\0';
    const HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
    auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), names.data(), names.size());
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// The files dropped in the tests, in a folder of their own.
struct Files {
    std::string folder;
    std::string pe32, pe64, arm, text, chinese, missing, exactly259, longer;
    std::string code32, code64;

    Files() {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(sizeof(temp), temp);
        folder = std::string(temp) + "vantrel-hash-tool-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(folder.c_str(), nullptr);
        folder += "\\";
        const Bytes image32 = ReadAll(VANTREL_PE_FIXTURES "/hello32.exe");
        const Bytes image64 = ReadAll(VANTREL_PE_FIXTURES "/hello64.exe");
        code32 = CodeOf(image32);
        code64 = CodeOf(image64);

        pe32 = folder + "hello32.exe";
        pe64 = folder + "hello64.exe";
        chinese = folder + "样本 程序.exe";
        WriteAll(pe32, image32);
        WriteAll(pe64, image64);
        EXPECT_TRUE(::CopyFileA(pe64.c_str(), chinese.c_str(), FALSE));

        // The same image built for 32-bit ARM: the machine type alone differs.
        Bytes armImage = image32;
        const std::size_t machine = Get(armImage, 60, 4) + 4;
        armImage[machine] = 0xC4;
        armImage[machine + 1] = 0x01;
        arm = folder + "arm.exe";
        WriteAll(arm, armImage);

        std::string lines;
        while (lines.size() < 4096) {
            lines += "[PRO]|2024-01-01 00:00:00|create|1|not an executable\r\n";
        }
        text = folder + "behaviour.log";
        WriteAll(text, Bytes(lines.begin(), lines.end()));
        missing = folder + "gone.exe";

        // A name of 259 bytes, and a longer one that starts with it: cut to 259 bytes, the longer
        // name would name the PE file instead of itself.
        exactly259 = folder + std::string(259 - folder.size() - 4, 'n') + ".exe";
        WriteAll(exactly259, image32);
        longer = exactly259 + ".txt";
        const std::wstring wide = L"\\\\?\\" + Wide(longer);
        const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ~Files() {
        for (const std::string* p : {&pe32, &pe64, &arm, &text, &chinese, &exactly259}) {
            ::DeleteFileA(p->c_str());
        }
        ::DeleteFileW((L"\\\\?\\" + Wide(longer)).c_str());
        ::RemoveDirectoryA(folder.c_str());
    }
    static std::wstring Wide(const std::string& text) {
        std::wstring out(text.size() + 1, L'\0');
        const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(),
                                            static_cast<int>(out.size()));
        out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
        return out;
    }
};

TEST(CDlgHashTool, EachDropOfOneFileReplacesTheCode) {
    Files files;
    ASSERT_EQ(files.exactly259.size(), 259u);
    ASSERT_EQ(files.code32.size(), 32u);
    ASSERT_EQ(files.code32.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    ASSERT_NE(files.code32, files.code64);

    guitest::Host host(400, 300);
    CDlgHashTool dialog;
    ASSERT_TRUE(dialog.CreateModeless(host.Handle()));
    const HWND edit = dialog.Item(IDC_FEATURE_CODE).Handle();
    dialog.Show(SW_SHOWNORMAL);
    EXPECT_EQ(guitest::TextOf(edit), "");

    struct Drop {
        std::vector<std::string> paths;
        std::string shown;
    };
    const Drop drops[] = {
        {{files.pe32}, files.code32},
        {{files.pe64}, files.code64},
        {{files.pe32, files.text}, files.code64},  // several files: ignored
        {{files.text}, ""},
        {{files.chinese}, files.code64},
        {{files.arm}, ""},
        {{files.exactly259}, files.code32},
        {{files.missing}, ""},
        {{files.pe64}, files.code64},
        {{files.longer}, ""},
    };
    for (const Drop& drop : drops) {
        SCOPED_TRACE(drop.paths.empty() ? std::string("no file") : drop.paths.front());
        dialog.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(drop.paths)));
        EXPECT_EQ(guitest::TextOf(edit), drop.shown);
        EXPECT_EQ(dialog.codeText, drop.shown);
    }
    dialog.Destroy();
}

TEST(CDlgHashTool, SaysWhyAFileHasNoCodeAndNamesTheFileOfACode) {
    Files files;
    const std::string small = files.folder + "small.exe";
    WriteAll(small, Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0});
    guitest::Host host(400, 300);
    CDlgHashTool dialog;
    ASSERT_TRUE(dialog.CreateModeless(host.Handle()));
    const HWND note = dialog.Item(IDC_FEATURE_FILE).Handle();
    ASSERT_NE(note, nullptr);
    struct Drop {
        std::vector<std::string> paths;
        std::string code;
        std::string note;
    };
    const Drop drops[] = {
        {{files.pe32}, files.code32, "hello32.exe"},
        {{files.text}, "", "behaviour.log：不是PE文件"},
        {{small}, "", "small.exe：文件太小，不是PE文件（不足1024字节）"},
        {{files.chinese}, files.code64, "样本 程序.exe"},
        {{files.folder.substr(0, files.folder.size() - 1)}, "", "文件夹"},
        {{files.arm}, "", "arm.exe：不支持的机器类型"},
        {{files.missing}, "", "gone.exe：无法读取此文件"},
        {{files.pe32, files.pe64}, "", "只能拖放一个文件"},  // the code before stays
    };
    for (const Drop& drop : drops) {
        SCOPED_TRACE(drop.paths.front());
        dialog.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(drop.paths)));
        EXPECT_EQ(dialog.codeText, drop.code);
        EXPECT_NE(guitest::TextOf(note).find(drop.note), std::string::npos)
            << guitest::TextOf(note);
    }
    dialog.Destroy();
    ::DeleteFileA(small.c_str());
}

TEST(CDlgHashTool, RunsModallyAndClosesOnEscEnterAndTheCloseBox) {
    Files files;
    struct Case {
        const char* how;
        INT_PTR result;
    };
    for (const Case& c : {Case{"esc", IDCANCEL}, Case{"enter", IDOK}, Case{"close", IDCANCEL}}) {
        SCOPED_TRACE(c.how);
        guitest::Host host(400, 300);
        CDlgHashTool dialog;
        LONG_PTR exStyle = 0;
        std::string caption;
        std::string shown;
        HWND editWindow = nullptr;
        guitest::DialogScript script(
            [&] { return dialog.Handle(); },
            {[&] {
                 exStyle = ::GetWindowLongPtrA(dialog.Handle(), GWL_EXSTYLE);
                 caption = guitest::TextOf(dialog.Handle());
                 editWindow = dialog.Item(IDC_FEATURE_CODE).Handle();
                 dialog.Post(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({files.chinese})));
                 return true;
             },
             [&] {
                 shown = guitest::TextOf(editWindow);
                 if (shown.empty()) {
                     return false;
                 }
                 if (std::string(c.how) == "esc") {
                     guitest::Pixels::OfWindow(dialog.Handle()).Keep("hash_tool");
                     guitest::HoldForScreenshot();
                     guitest::PostKey(editWindow, VK_ESCAPE);
                 } else if (std::string(c.how) == "enter") {
                     guitest::PostKey(editWindow, VK_RETURN);
                 } else {
                     dialog.Post(WM_SYSCOMMAND, SC_CLOSE);
                 }
                 return true;
             }});
        EXPECT_EQ(dialog.DoModal(host.Handle()), c.result);
        EXPECT_TRUE(script.Finished());
        EXPECT_EQ(caption, "特征码获取工具");
        EXPECT_NE(exStyle & WS_EX_ACCEPTFILES, 0);  // the shell drops only on such windows
        EXPECT_EQ(shown, files.code64);
        EXPECT_EQ(dialog.codeText, files.code64);
        EXPECT_EQ(dialog.Handle(), nullptr);
    }
}

}  // namespace
