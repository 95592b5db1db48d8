/* What TkInitialize learns of the platform, over a stand-in version query
 * and common-controls library, and the cookie counter's wrap. */
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "tools/runtime.h"
#include "library/lifecycle.h"

namespace {

struct Fake {
    bool versionFails;
    DWORD family;
    bool loadFails, noEntry;
    HRESULT result;
    DWORD major, minor;
    int loads, frees;
    DWORD versionRecordSize, dllRecordSize;
} g;

HMODULE const kComctl = reinterpret_cast<HMODULE>(0x51000000);

HRESULT CALLBACK DllGetVersion(DLLVERSIONINFO* info)
{
    g.dllRecordSize = info->cbSize;
    info->dwMajorVersion = g.major;
    info->dwMinorVersion = g.minor;
    return g.result;
}
BOOL WINAPI Version(OSVERSIONINFOA* info)
{
    g.versionRecordSize = info->dwOSVersionInfoSize;
    info->dwPlatformId = g.family;
    return !g.versionFails;
}
HMODULE WINAPI Load(LPCSTR name)
{
    ++g.loads;
    EXPECT_STREQ(name, "comctl32.dll");
    return g.loadFails ? nullptr : kComctl;
}
FARPROC WINAPI Entry(HMODULE module, LPCSTR name)
{
    EXPECT_EQ(module, kComctl);
    EXPECT_STREQ(name, "DllGetVersion");
    return g.noEntry ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(DllGetVersion));
}
BOOL WINAPI Free(HMODULE module)
{
    ++g.frees;
    EXPECT_EQ(module, kComctl);
    return TRUE;
}

const tk::LifecyclePlatform kFake = { Version, Load, Entry, Free };

class LearnPlatform : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::LifecyclePlatform> use_{ tk::LifecycleSeam(), kFake };
};

void Reset(DWORD family, DWORD major, DWORD minor)
{
    g = Fake();
    g.family = family;
    g.major = major;
    g.minor = minor;
}

TEST_F(LearnPlatform, TakesTheFamilyFromTheVersionQuery)
{
    for (DWORD family : { 0u, 1u, 2u }) {
        Reset(family, 6, 0);
        tk::LifecycleState state = {};
        tk::LearnPlatform(state);
        EXPECT_EQ(state.platformFamily, family);
        EXPECT_EQ(g.versionRecordSize, 148u);
    }
    Reset(2, 6, 0);
    g.versionFails = true;
    tk::LifecycleState state = {};
    tk::LearnPlatform(state);
    EXPECT_EQ(state.platformFamily, 1u) << "a failed query means the Windows 95 family";
    EXPECT_FALSE(state.newStyle);
}

TEST_F(LearnPlatform, NewStyleNeedsTheNtFamilyAndCommonControlsSix)
{
    struct Case {
        DWORD family, major, minor;
        bool noEntry;
        HRESULT result;
        bool expected;
    } cases[] = {
        { 2, 5, 82, false, S_OK, false },
        { 2, 6, 0, false, S_OK, true },
        { 2, 6, 10, false, S_FALSE, true },
        { 1, 6, 0, false, S_OK, false },
        { 0, 6, 0, false, S_OK, false },
        { 2, 6, 0, true, S_OK, false },        /* no DllGetVersion: 4.0 */
        { 2, 6, 0, false, E_NOTIMPL, false },  /* 4.0, whatever the record says */
        { 2, 6, 0, false, E_FAIL, false },
    };
    for (const Case& c : cases) {
        Reset(c.family, c.major, c.minor);
        g.noEntry = c.noEntry;
        g.result = c.result;
        tk::LifecycleState state = {};
        tk::LearnPlatform(state);
        const std::string what = "family " + std::to_string(c.family) + ", " + std::to_string(c.major) + "." +
            std::to_string(c.minor) + (c.noEntry ? ", no entry" : "") + ", result " + std::to_string(c.result);
        EXPECT_EQ(state.newStyle, c.expected) << what;
        EXPECT_EQ(g.loads, 1) << what;
        EXPECT_EQ(g.frees, 1) << "unloaded again whatever the outcome: " << what;
        if (!c.noEntry) {
            EXPECT_EQ(g.dllRecordSize, 20u) << what;
        }
    }
}

TEST_F(LearnPlatform, NeverTurnsTheFlagOff)
{
    tk::LifecycleState state = {};
    Reset(2, 6, 0);
    tk::LearnPlatform(state);
    ASSERT_TRUE(state.newStyle);

    Reset(2, 5, 82);
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    Reset(2, 6, 0);
    g.result = E_FAIL;
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    Reset(2, 6, 0);
    g.loadFails = true;
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    EXPECT_EQ(g.frees, 0) << "nothing loaded, nothing freed";
}

TEST(Cookie, WrapsAfterTheLargestNumber)
{
    tk::Lifecycle().cookie = 0xFFFFFFFE;
    EXPECT_EQ(TkGetCookie(), 0xFFFFFFFFu);
    EXPECT_EQ(TkGetCookie(), 0u);
    EXPECT_EQ(TkGetCookie(), 1u);
}

}  // namespace
