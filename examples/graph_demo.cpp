/* graph_demo.cpp -- a live chart of the busy delay's pace in a window of its
 * own, saved as a picture. */
#include <stdio.h>

#include <vector>

#include "tools/graph.h"
#include "tools/runtime.h"
#include "graph_demo.h"

namespace {

const char kClassName[] = "ToolsGraphDemo";
const int kChartWidth = 400;
const int kChartHeight = 300;
const int kStatusHeight = 20;
/* One sample per line and one drawing per tick: a little over the graph's
 * 500 ms, so that no drawing falls due a moment too early. */
const DWORD kTick = 520;
const DWORD kLeastRunMs = 3000;   /* draw this long even when the rounds are quick */
const int kStep = 25;             /* pixels between samples: 16 across the chart */
const double kCpuidPerDelay = 200000.0;

/* The rounds, run on a second thread so that the window stays alive while a
 * round of busy work goes on. */
struct Rounds {
    int rounds;
    int delays;
    volatile long passes;   /* CPUIDs executed so far, counted by TkDelayInc */
    volatile long done;     /* rounds finished; their times are in ms */
    volatile long stop;
    std::vector<DWORD> ms;
};

DWORD WINAPI RunRounds(void* context)
{
    Rounds& work = *static_cast<Rounds*>(context);
    for (int r = 0; r < work.rounds && !work.stop; ++r) {
        DWORD start = TkGetTickCount();
        int d = 0;
        while (d < work.delays && !work.stop) {
            TkDelayInc(&work.passes);
            ++d;
        }
        if (d < work.delays)
            break;
        work.ms[r] = TkGetTickCount() - start;
        InterlockedIncrement(&work.done);
    }
    return 0;
}

LRESULT CALLBACK DemoWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    /* The graph follows the window's size once it is attached. */
    CGraph* graph = reinterpret_cast<CGraph*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_SIZE && graph)
        graph->Resize(static_cast<unsigned>(wParam), LOWORD(lParam), HIWORD(lParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

/* The window's client area as a bottom-up 24-bit BMP file. */
bool SavePicture(HWND window, const char* path)
{
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* pixels = nullptr;
    HDC screen = GetDC(window);
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pixels,
                                   nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    bool copied = false;
    if (dib && memory) {
        HGDIOBJ previous = SelectObject(memory, dib);
        copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, previous);
    }
    if (memory)
        DeleteDC(memory);
    ReleaseDC(window, screen);

    bool written = false;
    DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    DWORD imageBytes = rowBytes * height;
    FILE* file = copied ? fopen(path, "wb") : nullptr;
    if (file) {
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;   /* "BM" */
        header.bfOffBits = sizeof header + sizeof info;
        header.bfSize = header.bfOffBits + imageBytes;
        written = fwrite(&header, sizeof header, 1, file) == 1 && fwrite(&info, sizeof info, 1, file) == 1 &&
                  fwrite(pixels, imageBytes, 1, file) == 1;
        written = fclose(file) == 0 && written;
    }
    if (dib)
        DeleteObject(dib);
    return written;
}

/* Nanoseconds per CPUID over an interval, or -1 when none ran in it. */
int NanosecondsPerCpuid(DWORD ms, long passes)
{
    return passes > 0 ? static_cast<int>(ms * 1e6 / passes + 0.5) : -1;
}

}  // namespace

bool RunGraphDemo(const GraphDemoSettings& settings, const char* picturePath)
{
    printf("\nLive graph: %d rounds of %d TkDelay, one sample every %lu ms, budget %lu ms\n", settings.rounds,
           settings.delaysPerRound, kTick, settings.budgetMs);
    if (settings.rounds < 1 || settings.delaysPerRound < 1) {
        printf("  rounds and delays per round must be at least 1\n");
        return false;
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DemoWindow;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        printf("  cannot register the window class (error %lu)\n", GetLastError());
        return false;
    }
    /* No caption: a window without one is no window manager's business, so
     * it also closes at once where none runs (under Xvfb, Wine waits two
     * seconds for one to let a captioned window go). */
    DWORD style = WS_POPUP | WS_BORDER | WS_CLIPCHILDREN;
    RECT frame = { 0, 0, kChartWidth, kChartHeight + kStatusHeight };
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowA(kClassName, "tools: live graph", style, 40, 40, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) {
        printf("  cannot open a window (error %lu); is there a display?\n", GetLastError());
        return false;
    }
    /* The chart fills the client area; the status line lies over its bottom,
     * and the graph leaves that part free. */
    HWND chart = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, kChartWidth,
                               kChartHeight + kStatusHeight, window, nullptr, instance, nullptr);
    HWND status = CreateWindowA("STATIC", "starting", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, kChartHeight,
                                kChartWidth, kStatusHeight, window, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);

    CGraph graph(3, status);
    HRESULT hr = graph.SetBkColor(settings.backgroundColour);
    if (SUCCEEDED(hr))
        hr = graph.SetGridColor(settings.gridColour, 1);
    COLORREF colours[4] = { settings.lineColours[0], settings.lineColours[1], settings.lineColours[2],
                            settings.lineColours[3] };
    int widths[4] = { 2, 1, 1, 1 };
    if (SUCCEEDED(hr))
        hr = graph.SetLineColor(colours, widths);
    if (SUCCEEDED(hr))
        hr = graph.Attach(chart);
    /* Step and grid after Attach, which resets the vertical grid spacing:
     * a vertical line every four samples, two seconds apart. */
    if (SUCCEEDED(hr))
        hr = graph.SetUnit(kStep);
    if (SUCCEEDED(hr))
        hr = graph.SetGridUnit(kStep, 25);
    if (FAILED(hr)) {
        printf("  the graph could not be set up (0x%08lX)\n", static_cast<unsigned long>(hr));
        DestroyWindow(window);
        return false;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&graph));

    Rounds work = { settings.rounds, settings.delaysPerRound, 0, 0, 0, std::vector<DWORD>(settings.rounds) };
    HANDLE worker = CreateThread(nullptr, 0, RunRounds, &work, 0, nullptr);
    if (!worker) {
        printf("  cannot start the rounds (error %lu)\n", GetLastError());
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
        return false;
    }

    DWORD start = TkGetTickCount(), lastTick = start;
    long lastPasses = 0;
    int live = -1, ranged = 0, drawings = 0, samples = 0;
    double sum = 0;
    bool finished = false;
    for (;;) {
        Pump();
        DWORD now = TkGetTickCount();
        finished = WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
        if ((finished && now - start >= kLeastRunMs) || now - start >= settings.budgetMs)
            break;
        if (now - lastTick < kTick) {
            Sleep(10);
            continue;
        }
        long passes = work.passes;
        int pace = NanosecondsPerCpuid(now - lastTick, passes - lastPasses);
        lastTick = now;
        lastPasses = passes;
        if (pace >= 0)
            live = pace;
        if (live < 0)
            continue;   /* nothing measured yet */
        if (!ranged) {
            /* Twice the first pace, in whole hundreds, as the top. */
            ranged = (2 * live + 99) / 100 * 100;
            graph.SetRange(0, ranged);
        }
        sum += live;
        ++samples;
        long done = work.done;
        int average = static_cast<int>(sum / samples + 0.5);
        int round = done ? NanosecondsPerCpuid(work.ms[done - 1], static_cast<long>(kCpuidPerDelay * work.delays))
                         : average;
        int values[3] = { live, average, round };
        graph.Add(values);
        if (graph.Draw() == S_OK)
            ++drawings;
        char text[128];
        snprintf(text, sizeof text, " ns/CPUID  now %d  avg %d  round %d  (%ld/%d)", live, average, round, done,
                 work.rounds);
        SetWindowTextA(status, text);
    }

    /* One more drawing, saved before anything can paint over it. */
    bool drawn = false;
    for (DWORD wait = TkGetTickCount(); !drawn && TkGetTickCount() - wait < 2 * kTick; Sleep(5))
        drawn = samples > 0 && graph.Draw() == S_OK;
    bool saved = drawn && SavePicture(window, picturePath);
    drawings += drawn;
    work.stop = 1;
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);

    for (long r = 0; r < work.done; ++r)
        printf("  round %ld: %lu ms, %d ns per CPUID\n", r + 1, work.ms[r],
               NanosecondsPerCpuid(work.ms[r], static_cast<long>(kCpuidPerDelay * work.delays)));
    if (!finished)
        printf("  the budget ran out after %ld of %d rounds\n", work.done, work.rounds);
    printf("  %d samples per line and %d drawings in %lu ms, range 0 to %d ns\n", samples, drawings,
           TkGetTickCount() - start, ranged);
    if (saved)
        printf("  picture of the window: %s\n", picturePath);
    else
        printf("  no picture written to %s\n", picturePath);
    return saved;
}
