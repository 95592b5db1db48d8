/* hresult.h -- system error codes as HRESULTs. */
#ifndef TOOLS_BASE_HRESULT_H
#define TOOLS_BASE_HRESULT_H

#include <windows.h>

namespace tk {

/* The platform's HRESULT_FROM_WIN32 rule, also for codes above 0xFFFF: a
 * positive code keeps its low 16 bits with 0x80070000 set; 0 and negative
 * codes (HRESULTs already) stay as they are. */
inline long HResultFromError(long error)
{
    return error <= 0 ? error : static_cast<long>((error & 0xFFFF) | 0x80070000u);
}

/* The calling thread's last-error code by that rule. */
inline HRESULT FromLastError()
{
    return HResultFromError(static_cast<long>(GetLastError()));
}

/* The result of a platform call that failed: its last-error code by that
 * rule, or E_FAIL when the platform left none, so that a failure is never
 * reported as S_OK. */
inline HRESULT FailureFromLastError()
{
    const HRESULT hr = FromLastError();
    return hr == S_OK ? E_FAIL : hr;
}

}  // namespace tk

#endif
