#include "util/ptrlist.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

// Under AddressSanitizer a refused allocation must come back as null, as it
// does from the plain C library, so that the exhaustion path can be seen.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

void* Tag(intptr_t value) {
    return reinterpret_cast<void*>(value);
}

std::vector<intptr_t> Contents(const PtrList* list) {
    std::vector<intptr_t> out;
    for (int i = 0; i < ListCount(list); ++i)
        out.push_back(reinterpret_cast<intptr_t>(ListGet(list, i)));
    return out;
}

TEST(PtrList, CreateRaisesCapacityAndStep) {
    struct Case {
        int capacity, step;
        int wantCapacity, wantStep;
    };
    const Case cases[] = {{0, 0, 2, 1}, {-5, -1, 2, 1}, {1, 1, 2, 1}, {10, 5, 10, 5}};
    for (const Case& c : cases) {
        PtrListPtr list(ListCreate(c.capacity, c.step, nullptr, nullptr, nullptr));
        EXPECT_EQ(list->count, 0);
        EXPECT_EQ(list->capacity, c.wantCapacity);
        EXPECT_EQ(list->growthStep, c.wantStep);
    }
}

TEST(PtrList, GrowsByTheStepBeforeTheArrayFills) {
    struct Case {
        int capacity, step;
        std::vector<int> capacityAfter; // capacity after the 1st, 2nd, ... insert
    };
    const Case cases[] = {
        {0, 0, {2, 3, 4, 5}},
        {10, 5, {10, 10, 10, 10, 10, 10, 10, 10, 10, 15, 15, 15, 15, 15, 20, 20}},
        {3, 100, {3, 3, 103, 103}},
    };
    for (const Case& c : cases) {
        PtrListPtr list(ListCreate(c.capacity, c.step, nullptr, nullptr, nullptr));
        for (size_t i = 0; i < c.capacityAfter.size(); ++i) {
            ASSERT_EQ(ListAppend(list.get(), Tag(static_cast<intptr_t>(i))), static_cast<int>(i));
            EXPECT_EQ(list->capacity, c.capacityAfter[i]) << "after insert " << i + 1;
            EXPECT_LT(list->count, list->capacity); // a slot is always spare
        }
        for (size_t i = 0; i < c.capacityAfter.size(); ++i)
            EXPECT_EQ(ListGet(list.get(), static_cast<int>(i)), Tag(static_cast<intptr_t>(i)));
    }
}

TEST(PtrList, InsertPositions) {
    PtrListPtr list(ListCreate(2, 1, nullptr, nullptr, nullptr));
    EXPECT_EQ(ListInsert(list.get(), 0, Tag(2)), 0);
    EXPECT_EQ(ListInsert(list.get(), 1, Tag(4)), 1);  // index == count appends
    EXPECT_EQ(ListInsert(list.get(), 1, Tag(3)), 1);  // middle
    EXPECT_EQ(ListInsert(list.get(), 0, Tag(1)), 0);  // front
    EXPECT_EQ(ListInsert(list.get(), 5, Tag(9)), -1); // count + 1
    EXPECT_EQ(ListInsert(list.get(), -1, Tag(9)), -1);
    EXPECT_EQ(ListAppend(list.get(), nullptr), 4); // null is a legal element
    EXPECT_EQ(Contents(list.get()), (std::vector<intptr_t>{1, 2, 3, 4, 0}));
}

TEST(PtrList, InsertRefusedAtTheItemLimit) {
    PtrListPtr list(ListCreate(2, 1, nullptr, nullptr, nullptr));
    // Reaching the limit for real would take gigabytes; pretend the list is full.
    list->count = kListMaxItems;
    EXPECT_EQ(ListAppend(list.get(), Tag(1)), -1);
    EXPECT_EQ(ListInsert(list.get(), 0, Tag(1)), -1);
    EXPECT_EQ(list->capacity, 2);
    list->count = 0;
}

TEST(PtrList, DeleteClosesTheGapAndNeverShrinks) {
    struct Case {
        int index;
        int result;
        std::vector<intptr_t> want;
    };
    const Case cases[] = {
        {0, 1, {2, 3, 4}},    {3, 1, {1, 2, 3}},     {1, 1, {1, 3, 4}},
        {4, 0, {1, 2, 3, 4}}, {-1, 0, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        PtrListPtr list(ListCreate(2, 1, nullptr, nullptr, nullptr));
        for (intptr_t v = 1; v <= 4; ++v)
            ListAppend(list.get(), Tag(v));
        int capacity = list->capacity;
        EXPECT_EQ(ListDelete(list.get(), c.index), c.result) << "index " << c.index;
        EXPECT_EQ(Contents(list.get()), c.want);
        EXPECT_EQ(list->capacity, capacity);
    }
    PtrListPtr empty(ListCreate(0, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(ListDelete(empty.get(), 0), 0);
}

TEST(PtrList, GetOutsideTheElementsIsNull) {
    PtrListPtr list(ListCreate(4, 1, nullptr, nullptr, nullptr));
    for (int index : {-1, 0, 1, 100})
        EXPECT_EQ(ListGet(list.get(), index), nullptr);
    ListAppend(list.get(), Tag(7));
    EXPECT_EQ(ListGet(list.get(), 0), Tag(7));
    for (int index : {-1, 1, 3})
        EXPECT_EQ(ListGet(list.get(), index), nullptr);
    EXPECT_EQ(ListGet(nullptr, 0), nullptr);
    EXPECT_EQ(ListCount(nullptr), 0);
}

std::vector<intptr_t> freed;

void RecordFree(void* element) {
    freed.push_back(reinterpret_cast<intptr_t>(element));
}

TEST(PtrList, DestroyReleasesElementsInOrder) {
    freed.clear();
    PtrList* list = ListCreate(2, 1, RecordFree, nullptr, nullptr);
    for (intptr_t v : {5, 0, 9})
        ListAppend(list, Tag(v));
    ListDelete(list, 0); // removed elements are the caller's
    ListDestroy(list);
    EXPECT_EQ(freed, (std::vector<intptr_t>{0, 9}));

    freed.clear();
    {
        PtrListPtr held(ListCreate(2, 1, RecordFree, nullptr, nullptr));
        ListAppend(held.get(), Tag(3));
    }
    EXPECT_EQ(freed, (std::vector<intptr_t>{3}));
    ListDestroy(nullptr);
}

TEST(PtrList, DestroyWithoutCallbackLeavesElements) {
    char* text = MemStrDup("still mine");
    PtrList* list = ListCreate(2, 1, nullptr, nullptr, nullptr);
    ListAppend(list, text);
    ListDestroy(list);
    EXPECT_STREQ(text, "still mine");
    std::free(text);
}

TEST(Mem, AllocAndDuplicate) {
    void* none = MemAlloc(0);
    EXPECT_NE(none, nullptr);
    std::free(none);
    char* copy = MemStrDup("abc");
    EXPECT_STREQ(copy, "abc");
    std::free(copy);
    char* empty = MemStrDup(nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(MemDeathTest, ExhaustionEndsTheProcessWithErm) {
    EXPECT_EXIT(
        {
            void* block = MemAlloc(SIZE_MAX / 2);
            std::free(block);
        },
        testing::ExitedWithCode(1), "ERM");
}

} // namespace
