/* A host that loads tools.dll at run time and unloads it without calling
 * TkTerminate: the library's unload still frees the component libraries
 * it kept. This program links the library's objects, not tools.dll, so the
 * load below is the only one. */
#include <gtest/gtest.h>

#include <windows.h>

#include "support/test_component.h"

namespace {

using namespace testcomponent;

typedef HRESULT (*CreateFn)(const char* path, REFCLSID clsid, REFIID iid, void** out);

/* The exported C++ name of NoRegCoCreate(const char*, REFCLSID, REFIID,
 * void**), which the import library binds hosts to. */
const char kCreateName[] = "_Z13NoRegCoCreatePKcRK5_GUIDS3_PPv";

TEST(Unload, UnloadingToolsFreesTheComponentLibrariesItKept)
{
    ASSERT_EQ(GetModuleHandleA("tools.dll"), nullptr) << "this program must not link tools.dll";
    HMODULE tools = LoadLibraryA("tools.dll");
    ASSERT_NE(tools, nullptr);
    CreateFn create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(tools, kCreateName)));
    ASSERT_NE(create, nullptr);

    ICounter* counter = nullptr;
    ASSERT_EQ(create(kFileName, kCounterClass, kCounterId, reinterpret_cast<void**>(&counter)), S_OK);
    counter->Release();
    ASSERT_NE(GetModuleHandleA(kFileName), nullptr);

    EXPECT_TRUE(FreeLibrary(tools));
    EXPECT_EQ(GetModuleHandleA("tools.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA(kFileName), nullptr);
}

}  // namespace
