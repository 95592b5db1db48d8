/* profile.h -- named integer, real and text values in the sections of an
 * INI file beside the program.
 *
 * The file lies in the directory of the calling program's executable (the
 * module that GetModuleFileNameA(NULL) names), not of tools.dll: the
 * settings are the program's own, and the library's other files that belong
 * to a program (its "symbols" directory) lie beside the executable as well.
 *
 * A profile keeps no file open and caches nothing: every read and write is
 * one call of GetPrivateProfileStringA or WritePrivateProfileStringA, which
 * reads or rewrites the file at once. One section is open at a time; every
 * read and write addresses a key of it. A key that is null or empty, or any
 * key while no section is open, addresses no value and never reaches the
 * platform: reads of it give the default, writes E_INVALIDARG. No
 * operation throws. Use a profile from one thread at a time.
 */
#ifndef TOOLS_PROFILE_H
#define TOOLS_PROFILE_H

#include <windows.h>

#include "tools/export.h"

class TOOLS_API CProfile {
public:
    /* The file path is the program's directory (up to and including its
     * last backslash, found stepping over double-byte characters of the
     * current code page) followed by fileName exactly as given: the name is
     * always taken relative to that directory, and a null name counts as
     * empty. A path longer than 259 characters is cut to 259.
     *
     * When that file exists but cannot be written there, it is copied to
     * the temporary directory under the same name (replacing any file
     * there), and this profile works on the copy for its whole life. A
     * read-only file has its read-only attribute cleared first, so that
     * later profiles find the original writable and use it. A file whose
     * attribute cannot be cleared, or that the user may not write (opening
     * it for writing is denied, as for a file that its access control
     * protects in a folder of installed programs), is copied as it is, and
     * later profiles copy it again. When the copy fails or its path would
     * not fit in 259 characters, the profile works on the original. A
     * directory is never changed or copied.
     *
     * A program path of 260 characters or more cannot be held, and so
     * gives no directory; neither does one that cannot be learned. The file
     * then lies in the temporary directory instead (cut to 259 characters
     * as above), since a name without a directory would mean the Windows
     * directory to the INI functions; the file found there is used as it
     * is. Only when the temporary directory cannot be learned either is the
     * path the name alone. Nothing is reported. No section is open. */
    explicit CProfile(const char* fileName);
    /* Copies name the same file and the same open section as their source;
     * the two are independent afterwards. */
    CProfile(const CProfile& other);
    CProfile& operator=(const CProfile& other);
    virtual ~CProfile();

    /* Reads the key's text into value. On entry *size is the capacity of
     * value in characters, terminator included; at most *size - 1
     * characters and a terminator are stored, and on return *size holds the
     * number stored, terminator not counted. A missing file, section or key,
     * an empty key and no open section give an empty text and *size 0.
     * S_OK; E_POINTER when value or size is null; E_INVALIDARG for a null
     * key, with the empty text stored as for a missing key when value and
     * *size allow. */
    virtual HRESULT QueryValue(char* value, const char* key, unsigned long* size);

    /* Reads the key's text (its first 15 characters) and converts it with
     * atof: the longest decimal prefix after leading white space, 0.0 when
     * there is none, the key is missing or empty, or no section is open.
     * S_OK; E_INVALIDARG for a null key, which stores 0.0. */
    virtual HRESULT QueryValue(float& value, const char* key);

    /* Reads the key's text (its first 15 characters) and converts it with
     * strtol in base 0: 0x1F is 31, 010 is 8, 12abc is 12; values beyond
     * the 32-bit range are clamped to it, and a missing or empty key, no
     * open section or a text that is no number gives 0. S_OK; E_INVALIDARG
     * for a null key, which stores 0. */
    virtual HRESULT QueryValue(int& value, const char* key);

    /* Writes value unchanged as the key's text. A null value removes the
     * key from the open section. S_OK when the platform's writer succeeds,
     * E_FAIL when it fails (the file is then unchanged). E_INVALIDARG, with
     * nothing written, for a null key (which the platform would take as an
     * order to remove the whole section), an empty key, or no open
     * section. */
    virtual HRESULT SetValue(const char* value, const char* key);

    /* Writes value as "%10.5f" makes it: five decimals, right-aligned in
     * ten characters ("   1.50000"), so that it reads back rounded to five
     * decimals. A value whose text would exceed the 15 characters that a
     * read takes (1e9 or more, -1e8 or less, infinities aside) is written
     * with nine significant digits instead ("1e+09", "-123456792"), which
     * reads back as the very same float. Results as for the text form. */
    virtual HRESULT SetValue(float value, const char* key);

    /* Writes value as "%d" makes it ("-2", "-2147483648"). Results as for
     * the text form. */
    virtual HRESULT SetValue(int value, const char* key);

    /* Makes section the open section, cut to 259 characters; a null or
     * empty section closes the open one. Replaces any section open before.
     * S_OK. */
    virtual HRESULT Open(const char* section);

    /* Leaves no section open. S_OK. */
    virtual HRESULT Close();

    /* The open section, empty when none is open. */
    const char* Section() const { return m_szSection; }
    /* The full path of the file that this profile reads and writes. */
    const char* Path() const { return m_szFile; }

private:
    char m_szSection[MAX_PATH];
    char m_szFile[MAX_PATH];
};

#endif
