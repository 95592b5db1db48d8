/* test_component.h -- the component library that the tests of component
 * creation load: what it offers and how each class id makes it behave. */
#ifndef TOOLS_TESTS_TEST_COMPONENT_H
#define TOOLS_TESTS_TEST_COMPONENT_H

#include <windows.h>
#include <unknwn.h>

namespace testcomponent {

const char kFileName[] = "tk_test_component.dll";

/* The one interface of its objects: a running total. */
struct ICounter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Add(LONG amount, LONG* total) = 0;
};

const IID kCounterId = { 0x6b1e2a40, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };

/* Granted with S_OK; the factory makes counters. */
const CLSID kCounterClass = { 0x6b1e2a41, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };
/* Refused by DllGetClassObject with CLASS_E_CLASSNOTAVAILABLE. */
const CLSID kRefusedClass = { 0x6b1e2a42, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };
/* Granted with the positive success code kPositiveGrant; makes counters. */
const CLSID kPositiveClass = { 0x6b1e2a43, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };
/* Granted; the factory's CreateInstance fails with kCreateFailure. */
const CLSID kFailingClass = { 0x6b1e2a44, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };
/* DllGetClassObject answers S_OK but hands out no factory. */
const CLSID kEmptyClass = { 0x6b1e2a45, 0x51c3, 0x4f0e, { 0x9a, 0x61, 0x2d, 0x7e, 0x10, 0x44, 0xc8, 0x01 } };

const HRESULT kPositiveGrant = 0x00040200;
const HRESULT kCreateFailure = static_cast<HRESULT>(0x80040201);

/* Exported "TestLiveObjects": the factories and counters alive now. */
typedef void (WINAPI* LiveObjectsFn)(LONG* factories, LONG* counters);

}  // namespace testcomponent

#endif
