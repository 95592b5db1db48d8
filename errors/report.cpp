/* report.cpp -- the report box of an exception. */
#include "tools/runtime.h"
#include "tools/util.h"
#include "errors/box_text.h"
#include "errors/report_box.h"

namespace tk {

namespace {

const char kCaption[] = "Exception Error";
/* The part of a source path worth showing begins at the project's folder. */
const char kProjectWord[] = "Velquor";
/* The size GetErrorMessage is given. */
const unsigned long kMessageSize = 256;

}  // namespace

constexpr ReportPlatform kSystemReportPlatform = { MessageBoxA };

namespace {
Seam<ReportPlatform> g_seam(kSystemReportPlatform);
}  // namespace

Seam<ReportPlatform>& ReportSeam() { return g_seam; }

int Report(CException& e, const char* text, unsigned type)
{
    /* One buffer on the stack: the exception's text, then the box text. */
    char buffer[kMessageSize + kBoxTextSize];
    char* message = buffer;
    char* box = buffer + kMessageSize;
    /* A host's GetErrorMessage may leave the buffer as it found it. */
    message[0] = '\0';
    e.GetErrorMessage(message, kMessageSize);
    message[kMessageSize - 1] = '\0';

    /* Read after GetErrorMessage, which may have just found them. */
    const char* file = e.m_pszFile;
    const int line = e.m_nLine;
    if (text) {
        if (file)
            FormatBoxText(box, "%s(%d)\n\n\"%s\"\n%s", TkStrStr(file, kProjectWord), line, text, message);
        else
            FormatBoxText(box, "\"%s\"\n%s", text, message);
    } else {
        if (file)
            FormatBoxText(box, "%s (%d)\n\n%s", TkStrStr(file, kProjectWord), line, message);
        else
            FormatBoxText(box, "%s", message);
    }
    AskToContinue(box, type);
    return ReportSeam().Calls().messageBox(nullptr, box, kCaption, type);
}

}  // namespace tk

int CException::ReportError(const char* text, unsigned type)
{
    return tk::Report(*this, text ? text : "", type);
}

int CException::ReportError(unsigned type)
{
    return tk::Report(*this, nullptr, type);
}
