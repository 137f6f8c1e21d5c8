// Memory helpers that never return null, and the growable list of opaque
// pointers with element callbacks (the job list is one).
#pragma once

#include <cstddef>
#include <cstdint>

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

// On exhaustion: "ERM" on standard error, exit status 1.
void* MemAlloc(size_t bytes);
char* MemStrDup(const char* text);

PtrList* ListCreate(int initialCapacity, int growthStep, FreeElement freeElement,
                    WriteElement writeElement, ReadElement readElement);
void ListDestroy(PtrList* list);
int ListCount(const PtrList* list);
void* ListGet(const PtrList* list, int index);
int ListInsert(PtrList* list, int index, void* element);
int ListAppend(PtrList* list, void* element);
int ListDelete(PtrList* list, int index);
