#include "util/ptrlist.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

[[noreturn]] void OutOfMemory() {
    // Nothing may allocate here: write straight to the descriptor.
    ssize_t ignored = write(STDERR_FILENO, "ERM", 3);
    (void)ignored;
    _exit(1);
}

void ListGrow(PtrList* list, int64_t slots) {
    if (slots > kListMaxItems) slots = kListMaxItems;
    if (slots < list->count) slots = list->count;
    void** items = static_cast<void**>(MemAlloc(static_cast<size_t>(slots) * sizeof(void*)));
    if (list->items != nullptr) {
        if (list->count > 0)
            std::memcpy(items, list->items, static_cast<size_t>(list->count) * sizeof(void*));
        std::free(list->items);
    }
    list->items = items;
    list->capacity = static_cast<int32_t>(slots);
}

} // namespace

void* MemAlloc(size_t bytes) {
    // malloc(0) may legally answer null; that must not read as exhaustion.
    void* block = std::malloc(bytes != 0 ? bytes : 1);
    if (block == nullptr) OutOfMemory();
    return block;
}

char* MemStrDup(const char* text) {
    if (text == nullptr) text = "";
    size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(MemAlloc(size));
    std::memcpy(copy, text, size);
    return copy;
}

PtrList* ListCreate(int initialCapacity, int growthStep, FreeElement freeElement,
                    WriteElement writeElement, ReadElement readElement) {
    if (initialCapacity < 2) initialCapacity = 2;
    if (growthStep < 1) growthStep = 1;
    PtrList* list = new (MemAlloc(sizeof(PtrList))) PtrList{};
    list->growthStep = growthStep;
    list->freeElement = freeElement;
    list->writeElement = writeElement;
    list->readElement = readElement;
    ListGrow(list, initialCapacity);
    return list;
}

void ListDestroy(PtrList* list) {
    if (list == nullptr) return;
    if (list->freeElement != nullptr)
        for (int32_t i = 0; i < list->count; ++i)
            list->freeElement(list->items[i]);
    list->count = 0;
    std::free(list->items);
    list->~PtrList();
    std::free(list);
}

int ListCount(const PtrList* list) {
    return list != nullptr ? list->count : 0;
}

void* ListGet(const PtrList* list, int index) {
    if (list == nullptr || index < 0 || index >= list->count) return nullptr;
    return list->items[index];
}

int ListInsert(PtrList* list, int index, void* element) {
    if (list == nullptr || index < 0 || index > list->count || list->count >= kListMaxItems)
        return -1;
    if (list->count + 1 >= list->capacity)
        ListGrow(list, static_cast<int64_t>(list->capacity) + list->growthStep);
    std::memmove(list->items + index + 1, list->items + index,
                 static_cast<size_t>(list->count - index) * sizeof(void*));
    list->items[index] = element;
    ++list->count;
    return index;
}

int ListAppend(PtrList* list, void* element) {
    return ListInsert(list, ListCount(list), element);
}

int ListDelete(PtrList* list, int index) {
    if (list == nullptr || index < 0 || index >= list->count) return 0;
    std::memmove(list->items + index, list->items + index + 1,
                 static_cast<size_t>(list->count - index - 1) * sizeof(void*));
    --list->count;
    return 1;
}
