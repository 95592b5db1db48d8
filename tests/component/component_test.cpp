/* Component creation through tools.dll's import library, as a host uses
 * it. */
#include <gtest/gtest.h>

#include <windows.h>

#include "tools/component.h"
#include "tools/runtime.h"
#include "support/test_component.h"

namespace {

using namespace testcomponent;

TEST(Component, AHostCreatesCallsAndReleasesAnObject)
{
    ICounter* counter = nullptr;
    ASSERT_EQ(NoRegCoCreate(kFileName, kCounterClass, kCounterId, reinterpret_cast<void**>(&counter)), S_OK);
    ASSERT_NE(counter, nullptr);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
    LONG total = 0;
    EXPECT_EQ(counter->Add(-7, &total), S_OK);
    EXPECT_EQ(total, -7);
    EXPECT_EQ(counter->Release(), 0u);

    EXPECT_NE(GetModuleHandleA(kFileName), nullptr);
    TkTerminate();
    EXPECT_EQ(GetModuleHandleA(kFileName), nullptr);
}

}  // namespace
