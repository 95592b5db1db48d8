/* file_names.h -- lasting copies of source file names.
 *
 * A fault's source file name comes from the debug-help library, whose text
 * ends with the engine start that the next fault text stops. An exception
 * keeps its name by pointer, so it gets a copy from here instead: each
 * distinct name is copied once and lives until the library is unloaded. */
#ifndef TOOLS_SOURCELINE_FILE_NAMES_H
#define TOOLS_SOURCELINE_FILE_NAMES_H

#include <stddef.h>

#include "base/seam.h"

namespace tk {

/* So that tests can make a copy fail for want of memory. */
struct FileNamesPlatform {
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);
};

extern const FileNamesPlatform kSystemFileNamesPlatform;

Seam<FileNamesPlatform>& FileNamesSeam();

class FileNames {
public:
    constexpr FileNames() : head_(nullptr) {}
    /* Frees every copy. */
    ~FileNames();

    /* The copy of name, made on its first request and the same pointer on
     * every later one; null for a null name or when no memory is left. */
    const char* LastingCopy(const char* name);

    int Count() const;

private:
    FileNames(const FileNames&) = delete;
    FileNames& operator=(const FileNames&) = delete;

    /* Each node is followed in its block by its name and terminator. */
    struct Node {
        Node* next;
    };
    static char* NameOf(Node* node) { return reinterpret_cast<char*>(node + 1); }

    Node* head_;
};

/* The process's copies, for as long as tools.dll is loaded. */
FileNames& SourceFileNames();

}  // namespace tk

#endif
