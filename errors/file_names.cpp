/* file_names.cpp -- lasting copies of source file names. */
#include <stdlib.h>
#include <string.h>

#include "errors/file_names.h"

namespace tk {

namespace {
void* Allocate(size_t bytes) { return malloc(bytes); }
void Release(void* block) { free(block); }
}  // namespace

const FileNamesPlatform kSystemFileNamesPlatform = { Allocate, Release };

FileNames::~FileNames()
{
    while (head_) {
        Node* next = head_->next;
        platform_.release(head_);
        head_ = next;
    }
}

/* A linear search: a program has few source files that fault, and each
 * fault text already pays a full restart of the debug-help library. */
const char* FileNames::Keep(const char* name)
{
    if (!name)
        return nullptr;
    for (Node* node = head_; node; node = node->next)
        if (strcmp(NameOf(node), name) == 0)
            return NameOf(node);
    const size_t length = strlen(name);
    Node* node = static_cast<Node*>(platform_.allocate(sizeof(Node) + length + 1));
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
FileNames g_names(kSystemFileNamesPlatform);
}  // namespace

FileNames& SourceFileNames() { return g_names; }

}  // namespace tk
