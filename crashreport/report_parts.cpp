/* report_parts.cpp -- the raw parts of a crash report's text. */
#include <string.h>
#include <winternl.h>

#include "crashreport/report_parts.h"
#include "debuginfo/version_resource.h"
#include "errors/exception_text.h"
#include "frames/processor.h"

namespace tk {

namespace {

const int kDigits = 2 * sizeof(void*);

unsigned long long Wide(DWORD_PTR value) { return static_cast<unsigned long long>(value); }

/* The image that holds address: its base, and its headers where they read
 * as a PE image's. */
const IMAGE_NT_HEADERS* ImageAt(DWORD_PTR address, DWORD_PTR* base)
{
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region) || region.Type != MEM_IMAGE)
        return nullptr;
    const unsigned char* image = static_cast<const unsigned char*>(region.AllocationBase);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 4096)
        return nullptr;
    const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (headers->Signature != IMAGE_NT_SIGNATURE)
        return nullptr;
    *base = reinterpret_cast<DWORD_PTR>(image);
    return headers;
}

/* "path+0xOFFSET" of an address, or its address alone outside any image. */
void WriteWhere(ReportOut& out, DWORD_PTR address)
{
    DWORD_PTR base = 0;
    char path[MAX_PATH];
    if (ImageAt(address, &base) && GetModuleFileNameA(reinterpret_cast<HMODULE>(base), path, sizeof path))
        out.Print("%s+0x%llx", path, Wide(address - base));
    else
        out.Print("(no module)");
}

void WriteVersion(ReportOut& out, DWORD_PTR base, const IMAGE_NT_HEADERS* headers)
{
    FileVersion version;
    const ByteRange image = { reinterpret_cast<const unsigned char*>(base), headers->OptionalHeader.SizeOfImage };
    if (ReadFileVersion(image, &version))
        out.Print("%u.%u.%u.%u", version.major, version.minor, version.build, version.revision);
    else
        out.Print("-");
}

void WriteRegisters(ReportOut& out, const CONTEXT& c)
{
#if defined(_WIN64)
    out.Print("  rax=%016llx rbx=%016llx rcx=%016llx rdx=%016llx\n", c.Rax, c.Rbx, c.Rcx, c.Rdx);
    out.Print("  rsi=%016llx rdi=%016llx rbp=%016llx rsp=%016llx\n", c.Rsi, c.Rdi, c.Rbp, c.Rsp);
    out.Print("  r8 =%016llx r9 =%016llx r10=%016llx r11=%016llx\n", c.R8, c.R9, c.R10, c.R11);
    out.Print("  r12=%016llx r13=%016llx r14=%016llx r15=%016llx\n", c.R12, c.R13, c.R14, c.R15);
    out.Print("  rip=%016llx eflags=%08lx cs=%04x ss=%04x\n", c.Rip, c.EFlags, c.SegCs, c.SegSs);
#else
    out.Print("  eax=%08lx ebx=%08lx ecx=%08lx edx=%08lx\n", c.Eax, c.Ebx, c.Ecx, c.Edx);
    out.Print("  esi=%08lx edi=%08lx ebp=%08lx esp=%08lx\n", c.Esi, c.Edi, c.Ebp, c.Esp);
    out.Print("  eip=%08lx eflags=%08lx cs=%04lx ss=%04lx ds=%04lx es=%04lx fs=%04lx gs=%04lx\n", c.Eip, c.EFlags,
              c.SegCs, c.SegSs, c.SegDs, c.SegEs, c.SegFs, c.SegGs);
#endif
}

}  // namespace

void WriteHeader(ReportOut& out, const CrashJob& job, const char* program)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    out.Print("Time: %04u-%02u-%02u %02u:%02u:%02u.%03u UTC\n", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
    out.Print("Program: %s, version ", program);
    DWORD_PTR base = 0;
    const IMAGE_NT_HEADERS* headers = ImageAt(reinterpret_cast<DWORD_PTR>(GetModuleHandleA(nullptr)), &base);
    if (headers)
        WriteVersion(out, base, headers);
    else
        out.Print("-");
    /* The version the system reports to itself: GetVersionEx answers what
     * the program's manifest declares. */
    typedef NTSTATUS(NTAPI * VersionFn)(OSVERSIONINFOW*);
    const VersionFn version = reinterpret_cast<VersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW windows = {};
    windows.dwOSVersionInfoSize = sizeof windows;
    if (version && version(&windows) >= 0)
        out.Print("\nWindows: %lu.%lu.%lu %ls\n", windows.dwMajorVersion, windows.dwMinorVersion,
                  windows.dwBuildNumber, windows.szCSDVersion);
    else
        out.Print("\nWindows: -\n");
    out.Print("Process: %lu\nThread: %lu\n", GetCurrentProcessId(), job.thread);
    out.Flush();
}

void WriteException(ReportOut& out, const CrashJob& job)
{
    if (!job.pointers) {
        out.Print("\nC++ exception not caught: CException*, code 0x%08lX\n", static_cast<unsigned long>(job.cxxCode));
        out.Flush();
        return;
    }
    const EXCEPTION_RECORD& record = *job.pointers->ExceptionRecord;
    const DWORD_PTR at = reinterpret_cast<DWORD_PTR>(record.ExceptionAddress);
    out.Print("\nException: 0x%08lX at 0x%0*llx\n", record.ExceptionCode, kDigits, Wide(at));
    if ((record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record.NumberParameters >= 2) {
        const ULONG_PTR access = record.ExceptionInformation[0];
        out.Print("Access: %s 0x%0*llx\n", access == 0 ? "read from" : access == 8 ? "execute" : "write to", kDigits,
                  Wide(record.ExceptionInformation[1]));
    }
    out.Print("Module: ");
    WriteWhere(out, at);
    out.Print("\nRegisters:\n");
    WriteRegisters(out, *job.pointers->ContextRecord);
    out.Flush();
}

void RecordFaultFrames(const CrashJob& job, ThreadFrames* frames)
{
    frames->thread = job.thread;
    frames->count = 0;
    if (!job.pointers)
        return;
    CONTEXT context = *job.pointers->ContextRecord;
    frames->count = RecordThreadStack(context, job.stackLow, job.stackHigh, frames->frames, kMostStackFrames);
}

void WriteAddresses(ReportOut& out, const ThreadFrames& frames)
{
    out.Print("\nStack addresses:\n");
    for (int i = 0; i < frames.count; ++i) {
        out.Print("  0x%0*llx ", kDigits, Wide(frames.frames[i]));
        WriteWhere(out, frames.frames[i]);
        out.Print("\n");
    }
    out.Flush();
}

void WriteModules(ReportOut& out)
{
    out.Print("\nModules:\n");
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const unsigned char* at = static_cast<const unsigned char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < system.lpMaximumApplicationAddress && VirtualQuery(at, &region, sizeof region)) {
        at = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (region.Type != MEM_IMAGE || region.AllocationBase != region.BaseAddress)
            continue;
        DWORD_PTR base = 0;
        const IMAGE_NT_HEADERS* headers = ImageAt(reinterpret_cast<DWORD_PTR>(region.BaseAddress), &base);
        char path[MAX_PATH];
        if (!headers || !GetModuleFileNameA(reinterpret_cast<HMODULE>(base), path, sizeof path))
            continue;
        out.Print("  0x%0*llx 0x%08lx %08lx ", kDigits, Wide(base), headers->OptionalHeader.SizeOfImage,
                  headers->FileHeader.TimeDateStamp);
        WriteVersion(out, base, headers);
        out.Print(" %s\n", path);
    }
    out.Flush();
}

void WriteExceptionText(ReportOut& out, const CrashJob& job)
{
    char text[1024];
    if (job.pointers)
        ExceptionText(job.pointers->ExceptionRecord->ExceptionCode, job.pointers->ExceptionRecord, text, sizeof text);
    else
        lstrcpynA(text, job.cxxText ? job.cxxText : "", sizeof text);
    const size_t length = strlen(text);
    out.Print("\nText: %s%s", text, length && text[length - 1] == '\n' ? "" : "\n");
    out.Flush();
}

}  // namespace tk
