/* file_names.cpp -- lasting copies of source file names. */
#include <string.h>

#include "base/allocation.h"
#include "sourceline/file_names.h"

namespace tk {

constexpr FileNamesPlatform kSystemFileNamesPlatform = { Allocate, Release };

namespace {
Seam<FileNamesPlatform> g_seam(kSystemFileNamesPlatform);
}  // namespace

Seam<FileNamesPlatform>& FileNamesSeam() { return g_seam; }

FileNames::~FileNames()
{
    const FileNamesPlatform& platform = FileNamesSeam().Calls();
    while (head_) {
        Node* next = head_->next;
        platform.release(head_);
        head_ = next;
    }
}

/* A linear search: a program has few source files that fault, and each
 * fault text already pays a full restart of the debug-help library. */
const char* FileNames::LastingCopy(const char* name)
{
    if (!name)
        return nullptr;
    for (Node* node = head_; node; node = node->next)
        if (strcmp(NameOf(node), name) == 0)
            return NameOf(node);
    const size_t length = strlen(name);
    Node* node = static_cast<Node*>(FileNamesSeam().Calls().allocate(sizeof(Node) + length + 1));
    if (!node)
        return nullptr;
    memcpy(NameOf(node), name, length + 1);
    node->next = head_;
    head_ = node;
    return NameOf(node);
}

int FileNames::Count() const
{
    int n = 0;
    for (const Node* node = head_; node; node = node->next)
        ++n;
    return n;
}

namespace {
/* Constant-initialised; destroyed at unload, after every use. */
FileNames g_names;
}  // namespace

FileNames& SourceFileNames() { return g_names; }

}  // namespace tk
