/* profile.cpp -- named values in the sections of an INI file. */
#include <cstdio>
#include <cstdlib>

#include "tools/profile.h"
#include "profile/profile_path.h"
#include "profile/profile_platform.h"
#include "profile/real_text.h"

namespace {

typedef char NumberText[tk::kNumberTextLength + 1];

/* A null key would make the platform list the section's keys, or on
 * writing remove the whole section: neither is a value, so no operation
 * passes one on. */
HRESULT ReadNumberText(const char* section, const char* key, const char* file, NumberText& text)
{
    if (!key) {
        text[0] = '0';
        text[1] = '\0';
        return E_INVALIDARG;
    }
    tk::ProfileSeam().Calls().readString(section, key, "0", text, sizeof text, file);
    return S_OK;
}

HRESULT WriteText(const char* section, const char* key, const char* text, const char* file)
{
    if (!key)
        return E_INVALIDARG;
    return tk::ProfileSeam().Calls().writeString(section, key, text, file) ? S_OK : E_FAIL;
}

}  // namespace

CProfile::CProfile(const char* fileName)
{
    m_szSection[0] = '\0';
    tk::LocateProfile(fileName, m_szFile);
}

CProfile::CProfile(const CProfile& other) = default;
CProfile& CProfile::operator=(const CProfile& other) = default;
CProfile::~CProfile() = default;

HRESULT CProfile::QueryValue(char* value, const char* key, unsigned long* size)
{
    if (!value || !size)
        return E_POINTER;
    /* Nothing, not even a terminator, fits in no room. */
    if (*size == 0)
        return key ? S_OK : E_INVALIDARG;
    if (!key) {
        value[0] = '\0';
        *size = 0;
        return E_INVALIDARG;
    }
    *size = tk::ProfileSeam().Calls().readString(m_szSection, key, "", value, *size, m_szFile);
    return S_OK;
}

HRESULT CProfile::QueryValue(float& value, const char* key)
{
    NumberText text;
    HRESULT hr = ReadNumberText(m_szSection, key, m_szFile, text);
    value = static_cast<float>(atof(text));
    return hr;
}

HRESULT CProfile::QueryValue(int& value, const char* key)
{
    NumberText text;
    HRESULT hr = ReadNumberText(m_szSection, key, m_szFile, text);
    value = static_cast<int>(strtol(text, nullptr, 0));
    return hr;
}

HRESULT CProfile::SetValue(const char* value, const char* key)
{
    return WriteText(m_szSection, key, value, m_szFile);
}

HRESULT CProfile::SetValue(float value, const char* key)
{
    NumberText text;
    tk::FormatReal(value, text);
    return WriteText(m_szSection, key, text, m_szFile);
}

HRESULT CProfile::SetValue(int value, const char* key)
{
    NumberText text;
    snprintf(text, sizeof text, "%d", value);
    return WriteText(m_szSection, key, text, m_szFile);
}

HRESULT CProfile::Open(const char* section)
{
    tk::CopyToField(m_szSection, section);
    return S_OK;
}

HRESULT CProfile::Close()
{
    m_szSection[0] = '\0';
    return S_OK;
}
