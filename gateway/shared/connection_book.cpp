// The workstation connections' verdicts (connection_book.h): three stores and a read.
#include "gateway/shared/connection_book.h"

#include <cstddef>
#include <new>

connection_book *connection_book_create(uint16_t slot_count)
{
    connection_book *book = new (std::nothrow) connection_book{};
    if (book == nullptr)
        return nullptr;
    book->slot_count = slot_count;
    const size_t count = slot_count == 0 ? 1 : slot_count;
    book->open_handle = new (std::nothrow) std::atomic<int32_t>[count];
    book->signed_handle = new (std::nothrow) std::atomic<int32_t>[count];
    if (book->open_handle == nullptr || book->signed_handle == nullptr)
    {
        connection_book_destroy(book);
        return nullptr;
    }
    for (size_t i = 0; i < count; ++i)
    {
        book->open_handle[i].store(-1, std::memory_order_relaxed);
        book->signed_handle[i].store(-1, std::memory_order_relaxed);
    }
    return book;
}

void connection_book_destroy(connection_book *book)
{
    if (book == nullptr)
        return;
    delete[] book->open_handle;
    delete[] book->signed_handle;
    delete book;
}

void connection_book_opened(connection_book *book, uint16_t slot, int32_t handle)
{
    if (book != nullptr && slot < book->slot_count)
        book->open_handle[slot].store(handle, std::memory_order_release);
}

void connection_book_closed(connection_book *book, uint16_t slot, int32_t handle)
{
    if (book == nullptr || slot >= book->slot_count)
        return;
    int32_t expected = handle;
    book->open_handle[slot].compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
}

void connection_book_signed_on(connection_book *book, uint16_t slot, int32_t handle)
{
    if (book != nullptr && slot < book->slot_count)
        book->signed_handle[slot].store(handle, std::memory_order_release);
}

connection_verdict connection_book_verdict(const connection_book *book, uint16_t slot, int32_t handle)
{
    if (book == nullptr || slot >= book->slot_count)
        return CONNECTION_SIGNED_ON;
    // The slot is read before the sign-on: a connection that signs on and leaves between
    // the two reads is still found signed on.
    const bool open = book->open_handle[slot].load(std::memory_order_acquire) == handle;
    if (book->signed_handle[slot].load(std::memory_order_acquire) == handle)
        return CONNECTION_SIGNED_ON;
    return open ? CONNECTION_UNDECIDED : CONNECTION_ENDED;
}
