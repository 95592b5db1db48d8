/* report.cpp -- the report box of an exception. */
#include <stdio.h>
#include <string.h>

#include "tools/runtime.h"
#include "tools/util.h"

namespace {

const char kCaption[] = "Exception Error";
const char kQuestion[] = "\nContinue?\n";
/* The part of a source path worth showing begins at the project's folder. */
const char kProjectWord[] = "Velquor";

/* Room for 511 characters of box text and the terminator. */
const size_t kBoxText = 512;

/* Appends the question for a plain yes-or-no box. A text that fills the box
 * loses its end to the question rather than the question to the text: the
 * user must see what the buttons answer. */
void AskToContinue(char* box, unsigned type)
{
    if (type != MB_YESNO)
        return;
    size_t room = kBoxText - 1 - (sizeof kQuestion - 1);
    size_t n = strlen(box);
    if (n > room)
        n = room;
    memcpy(box + n, kQuestion, sizeof kQuestion);
}

}  // namespace

int CException::ReportError(const char* text, unsigned type)
{
    /* One buffer on the stack: the exception's text, then the box text. */
    char buffer[256 + kBoxText];
    char* message = buffer;
    char* box = buffer + 256;
    message[0] = '\0';
    GetErrorMessage(message, 256);
    if (!text)
        text = "";
    /* snprintf cuts a text that would overrun the box; wsprintfA would not. */
    if (m_pszFile)
        snprintf(box, kBoxText, "%s(%d)\n\n\"%s\"\n%s", TkStrStr(m_pszFile, kProjectWord), m_nLine, text, message);
    else
        snprintf(box, kBoxText, "\"%s\"\n%s", text, message);
    AskToContinue(box, type);
    return MessageBoxA(nullptr, box, kCaption, type);
}

int CException::ReportError(unsigned type)
{
    char buffer[256 + kBoxText];
    char* message = buffer;
    char* box = buffer + 256;
    message[0] = '\0';
    GetErrorMessage(message, 256);
    if (m_pszFile)
        snprintf(box, kBoxText, "%s (%d)\n\n%s", TkStrStr(m_pszFile, kProjectWord), m_nLine, message);
    else
        snprintf(box, kBoxText, "%s", message);
    AskToContinue(box, type);
    return MessageBoxA(nullptr, box, kCaption, type);
}
