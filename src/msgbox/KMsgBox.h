// KMsgBox: the system's own modal message box. It shows marked-up text
// (Markup.h) in a rich-text control, takes the Win32 message-box style flags
// and returns the Win32 button identifiers, with button captions from a
// seven-caption list of the current language.
//
// Owner: a window, or 0 (no owner, the caption shown as a bold header above
// the text), or 1 (no owner, no header); use KMsgBoxNoHeader() for 1.
// One box at a time; it runs its own message loop on the calling thread,
// which must own the owner window. Other windows of the thread keep getting
// their messages meanwhile.
#ifndef KORVAN_MSGBOX_KMSGBOX_H
#define KORVAN_MSGBOX_KMSGBOX_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "msgbox/Markup.h"
#include "msgbox/MsgBoxLogic.h"

inline HWND KMsgBoxNoHeader() { return reinterpret_cast<HWND>(static_cast<INT_PTR>(1)); }

// Returns the chosen button's identifier, 0 when the box was closed without
// one (close box, Alt+F4).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                   uint32_t flags, uint8_t charset, const std::string& buttonList);

void ShowErrorBox(HWND owner, const std::string& text, const std::string& caption,
                  uint8_t charset, const std::string& buttonList);
void ShowWarningBox(HWND owner, const std::string& text, const std::string& caption,
                    uint8_t charset, const std::string& buttonList);
// True only for Yes.
bool AskYesNo(HWND owner, const std::string& text, const std::string& caption,
              uint8_t charset, const std::string& buttonList);
// True only for OK.
bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption,
                 uint8_t charset, const std::string& buttonList);

// Test hook: the library that provides the "RICHEDIT" class ("RICHED32.DLL"
// unless set). A name that does not load makes the box fall back to a plain
// read-only edit control, as it does on a system without the library.
void SetRichEditLibraryName(const std::string& name);

#endif
