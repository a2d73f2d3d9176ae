// The find dialog run for real under Wine: typed into, its direction chosen, OK pressed with the
// button or with Enter, its message box found and closed, Cancel and Esc.
#include "res/resource.h"
#include "tests/ui_dialogs/dialog_script.h"
#include "tests/win/gui_support.h"
#include "ui/dlg_find_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using guitest::DialogScript;
using guitest::MessageBoxSeen;

struct FakeSearch : ProcessSearch {
    int answer = 0;
    struct Call {
        std::string text;
        int direction;
    };
    std::vector<Call> calls;
    int FindProcessByName(std::string text, int direction) override {
        calls.push_back({std::move(text), direction});
        return answer;
    }
};

enum class Press { kOkButton, kEnter };

// What the dialog must make of a try.
enum class Outcome {
    kNotSearched,  // the window is not asked (its search would find something)
    kMiss,         // the window is asked and finds nothing
    kHit,          // the window is asked and finds a row
};

// One try in the dialog: typed, a direction chosen, OK pressed.
struct Attempt {
    const char* typed;
    bool up;
    Press press;
    Outcome outcome;
};

// Runs the dialog through `attempts`: each miss must show the message, which is closed, and leave
// the dialog open with the text as typed; the last attempt that is not a hit is followed by Esc.
void RunAttempts(const std::vector<Attempt>& attempts, bool withSearch) {
    guitest::Host host(400, 300);
    FakeSearch search;
    CDlgFindProcess dialog;
    dialog.mainDialog = withSearch ? &search : nullptr;
    auto edit = [&] { return dialog.Item(IDC_FIND_TEXT).Handle(); };

    bool focusInEdit = false;
    bool downAtStart = false;
    bool upAtStart = true;
    std::string editAtStart = "?";
    HWND dialogWindow = nullptr;
    std::vector<DialogScript::Step> steps = {[&] {
        dialogWindow = dialog.Handle();
        focusInEdit = ::GetFocus() == edit();
        downAtStart = dialog.Item(IDC_FIND_DOWN).Send(BM_GETCHECK) == BST_CHECKED;
        upAtStart = dialog.Item(IDC_FIND_UP).Send(BM_GETCHECK) == BST_CHECKED;
        editAtStart = guitest::TextOf(edit());
        return true;
    }};
    std::vector<MessageBoxSeen> boxes(attempts.size());
    std::vector<std::string> editAfterBox(attempts.size());
    std::vector<bool> expectBox(attempts.size());
    std::vector<FakeSearch::Call> expectedCalls;
    bool expectHit = false;
    std::string lastTyped;
    for (std::size_t i = 0; i < attempts.size() && !expectHit; ++i) {
        const Attempt& a = attempts[i];
        lastTyped = a.typed;
        if (a.outcome != Outcome::kNotSearched) {
            expectedCalls.push_back({a.typed, a.up ? -1 : 1});
        }
        expectHit = a.outcome == Outcome::kHit;
        expectBox[i] = !expectHit;
        steps.push_back([&, a] {
            search.answer = a.outcome == Outcome::kMiss ? 0 : 1;
            ::SendMessageA(edit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.typed));
            dialog.Item(a.up ? IDC_FIND_UP : IDC_FIND_DOWN).Send(BM_CLICK);
            if (a.press == Press::kOkButton) {
                dialog.Item(IDOK).Post(BM_CLICK);
            } else {
                guitest::PostKey(edit(), VK_RETURN);
            }
            return true;
        });
        if (expectHit) {
            break;
        }
        steps.push_back([&, i] {
            boxes[i] = guitest::FindMessageBox(dialog.Handle());
            if (boxes[i].window == nullptr) {
                return false;
            }
            guitest::HoldForScreenshot();
            ::PostMessageA(boxes[i].window, WM_COMMAND, IDOK, 0);
            return true;
        });
        steps.push_back([&, i] {
            if (guitest::FindMessageBox(dialog.Handle()).window != nullptr) {
                return false;
            }
            editAfterBox[i] = guitest::TextOf(edit());
            return true;
        });
    }
    if (!expectHit) {
        steps.push_back([&] {
            guitest::PostKey(edit(), VK_ESCAPE);
            return true;
        });
    }

    DialogScript script([&] { return dialog.Handle(); }, steps);
    EXPECT_EQ(dialog.DoModal(host.Handle()), expectHit ? IDOK : IDCANCEL);
    EXPECT_TRUE(script.Finished());
    EXPECT_TRUE(focusInEdit);
    EXPECT_TRUE(downAtStart);
    EXPECT_FALSE(upAtStart);
    EXPECT_EQ(editAtStart, "");
    ASSERT_EQ(search.calls.size(), expectedCalls.size());
    for (std::size_t i = 0; i < expectedCalls.size(); ++i) {
        EXPECT_EQ(search.calls[i].text, expectedCalls[i].text) << i;
        EXPECT_EQ(search.calls[i].direction, expectedCalls[i].direction) << i;
    }
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        if (!expectBox[i]) {
            continue;
        }
        SCOPED_TRACE(std::string("typed '") + attempts[i].typed + "'");
        EXPECT_EQ(boxes[i].caption, "系统提示:");
        // A text shorter than two bytes is refused as such, not reported as a miss.
        EXPECT_EQ(boxes[i].text, std::string(attempts[i].typed).size() < 2
                                     ? "请至少输入两个字节（一个汉字或两个字母）"
                                     : "未找到相关进程");
        EXPECT_TRUE(boxes[i].informationIcon);
        EXPECT_EQ(boxes[i].owner, dialogWindow);  // not the window behind the dialog
        EXPECT_EQ(editAfterBox[i], attempts[i].typed);
    }
    EXPECT_EQ(dialog.processName, lastTyped);  // fetched by the last OK
}

TEST(CDlgFindProcess, SearchesTextsOfTwoBytesAndStaysOpenAfterAMiss) {
    RunAttempts({{"s", false, Press::kOkButton, Outcome::kNotSearched},  // one Latin letter
                 {"", false, Press::kEnter, Outcome::kNotSearched},
                 {"sv", true, Press::kOkButton, Outcome::kMiss},
                 {"进", true, Press::kEnter, Outcome::kHit}},  // one Chinese character: two bytes
                true);
    RunAttempts({{"  svc ", false, Press::kEnter, Outcome::kHit}}, true);  // as typed, blanks kept
    // Without a window to search, nothing is ever found.
    RunAttempts({{"svchost", false, Press::kOkButton, Outcome::kNotSearched}}, false);
}

TEST(CDlgFindProcess, CancelAndEscapeSearchNothing) {
    for (bool byEscape : {false, true}) {
        guitest::Host host(400, 300);
        FakeSearch search;
        search.answer = 1;
        CDlgFindProcess dialog;
        dialog.mainDialog = &search;
        bool hostDisabled = false;
        DialogScript script([&] { return dialog.Handle(); }, {[&] {
                                const HWND edit = dialog.Item(IDC_FIND_TEXT).Handle();
                                hostDisabled = ::IsWindowEnabled(host.Handle()) == FALSE;
                                ::SendMessageA(edit, WM_SETTEXT, 0,
                                               reinterpret_cast<LPARAM>("svchost"));
                                if (byEscape) {
                                    guitest::PostKey(edit, VK_ESCAPE);
                                    return true;
                                }
                                guitest::Pump();
                                guitest::Pixels::OfWindow(dialog.Handle()).Keep("find_dialog");
                                guitest::HoldForScreenshot();
                                dialog.Item(IDCANCEL).Post(BM_CLICK);
                                return true;
                            }});
        EXPECT_EQ(dialog.DoModal(host.Handle()), IDCANCEL);
        EXPECT_TRUE(script.Finished());
        EXPECT_TRUE(hostDisabled);
        EXPECT_TRUE(search.calls.empty());
        EXPECT_TRUE(::IsWindowEnabled(host.Handle()));
    }
}

}  // namespace
