/* profile.cpp -- named values in the sections of an INI file. */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/profile.h"
#include "profile/profile_path.h"
#include "profile/profile_platform.h"
#include "profile/real_text.h"

namespace {

typedef char NumberText[tk::kNumberTextLength + 1];

/* Only a key of an open section is handed to the platform. A null key
 * would make it list the section's keys, or on writing remove the whole
 * section; an empty key or section name addresses no value, and some
 * systems' INI functions fault on one instead of saying so. */
bool AddressesAValue(const char* section, const char* key)
{
    return key && key[0] && section[0];
}

/* Reads the key's text, or fallback when the file, section or key has none,
 * into text of capacity characters (at least 1), and sets capacity to the
 * characters stored. Names that address no value give fallback without
 * asking, a null key with E_INVALIDARG. fallback lies in writable memory:
 * some systems' readers fault on an empty default held in read-only
 * memory. */
HRESULT ReadText(const char* section, const char* key, const char* file, char* fallback, char* text,
                 unsigned long& capacity)
{
    if (!AddressesAValue(section, key)) {
        snprintf(text, capacity, "%s", fallback);
        capacity = static_cast<unsigned long>(strlen(text));
        return key ? S_OK : E_INVALIDARG;
    }
    capacity = tk::ProfileSeam().Calls().readString(section, key, fallback, text, capacity, file);
    return S_OK;
}

HRESULT ReadNumberText(const char* section, const char* key, const char* file, NumberText& text)
{
    char fallback[] = "0";
    unsigned long capacity = sizeof text;
    return ReadText(section, key, file, fallback, text, capacity);
}

HRESULT WriteText(const char* section, const char* key, const char* text, const char* file)
{
    if (!AddressesAValue(section, key))
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
    char fallback[] = "";
    return ReadText(m_szSection, key, m_szFile, fallback, value, *size);
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
