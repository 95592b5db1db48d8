/* export.h -- the one switch between building tools.dll and using it.
 *
 * The library's own sources are compiled with TOOLS_BUILDING_DLL defined and
 * export what carries TOOLS_API; a host includes the headers without it and
 * imports the same names from tools.dll through its import library.
 */
#ifndef TOOLS_EXPORT_H
#define TOOLS_EXPORT_H

#if defined(TOOLS_BUILDING_DLL)
#  define TOOLS_API __declspec(dllexport)
#else
#  define TOOLS_API __declspec(dllimport)
#endif

#endif
