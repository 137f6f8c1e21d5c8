// Memory helpers that never return null, and the growable list of opaque
// pointers with element callbacks (the job list is one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct BinFile;

using FreeElement = void (*)(void* element);
using WriteElement = int (*)(BinFile* file, void* element);
using ReadElement = void* (*)(BinFile* file);

constexpr int32_t kListMaxItems = 1073741819;

struct PtrList {
    void** items = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    int32_t growthStep = 1;
    FreeElement freeElement = nullptr;
    WriteElement writeElement = nullptr;
    ReadElement readElement = nullptr;
};

// On exhaustion: "ERM" on standard error, exit status 1. Release with free().
void* MemAlloc(size_t bytes);
char* MemStrDup(const char* text);

// Capacity is at least 2 and the step at least 1; the array grows by the step
// before an insert that would fill it.
PtrList* ListCreate(int initialCapacity, int growthStep, FreeElement freeElement,
                    WriteElement writeElement, ReadElement readElement);
// Releases every element through freeElement (when set), then the list.
void ListDestroy(PtrList* list);
int ListCount(const PtrList* list);
// Null when index is outside 0 .. count - 1.
void* ListGet(const PtrList* list, int index);
// The index, or -1 when index is outside 0 .. count or the list is full.
int ListInsert(PtrList* list, int index, void* element);
int ListAppend(PtrList* list, void* element);
// 1 when removed; the element itself is not released.
int ListDelete(PtrList* list, int index);

struct ListDestroyer {
    void operator()(PtrList* list) const { ListDestroy(list); }
};
using PtrListPtr = std::unique_ptr<PtrList, ListDestroyer>;
