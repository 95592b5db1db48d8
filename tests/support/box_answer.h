/* box_answer.h -- answers the report box that the calling thread is about
 * to show, as a user would: reads its text and presses a button.
 *
 * A thread timer fires inside the box's modal loop; the box is looked for
 * among this thread's windows only, so a box of another test program on the
 * same display is never touched. */
#ifndef TOOLS_TESTS_BOX_ANSWER_H
#define TOOLS_TESTS_BOX_ANSWER_H

#include <windows.h>

#include <string>

namespace tktest {

class BoxAnswer {
public:
    /* Presses button (IDYES, IDNO, IDOK, ...) in the next box captioned
     * "Exception Error" that this thread shows while the object lives. */
    explicit BoxAnswer(int button) : button_(button), seen_(false)
    {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 100, Tick);
    }
    ~BoxAnswer()
    {
        if (timer_)
            KillTimer(nullptr, timer_);
        current_ = nullptr;
    }

    bool Seen() const { return seen_; }
    /* The box's text as the user saw it. */
    const std::string& Text() const { return text_; }

private:
    BoxAnswer(const BoxAnswer&) = delete;
    BoxAnswer& operator=(const BoxAnswer&) = delete;

    static BOOL CALLBACK Match(HWND window, LPARAM found)
    {
        char name[16], caption[32];
        if (GetClassNameA(window, name, sizeof name) && !strcmp(name, "#32770") &&
            GetWindowTextA(window, caption, sizeof caption) && !strcmp(caption, "Exception Error")) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        BoxAnswer* self = current_;
        HWND box = nullptr;
        if (!self || self->seen_)
            return;
        EnumThreadWindows(GetCurrentThreadId(), Match, reinterpret_cast<LPARAM>(&box));
        if (!box)
            return;
        char text[2048] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        self->text_ = text;
        self->seen_ = true;
        PostMessageA(box, WM_COMMAND, self->button_, 0);
    }

    static inline BoxAnswer* current_;
    int button_;
    bool seen_;
    std::string text_;
    UINT_PTR timer_;
};

}  // namespace tktest

#endif
