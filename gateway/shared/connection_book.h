// connection_book: which workstation connection holds each slot and which of them signed
// on, for the threads that hold what they write about a connection until it signs on
// (log_hold.h). The workstation network thread writes a slot's connection when it admits
// one and frees the slot; the user session thread writes the slot's signed-on connection
// when the host accepts its sign-on. That entry stays until another connection of the
// slot signs on, so a thread that looks late still finds the verdict. Every other thread
// only reads; the words are atomic and nothing is locked.
#pragma once

#include <atomic>
#include <cstdint>

struct connection_book
{
    uint16_t slot_count;
    std::atomic<int32_t> *open_handle;   // per slot: the connection holding it, -1 none
    std::atomic<int32_t> *signed_handle; // per slot: the last connection that signed on, -1 none
};

// What is known of a connection (its slot and network handle) now.
enum connection_verdict
{
    CONNECTION_UNDECIDED = 0, // it holds its slot and has not signed on
    CONNECTION_SIGNED_ON = 1,
    CONNECTION_ENDED = 2, // it left its slot without signing on
};

connection_book *connection_book_create(uint16_t slot_count);
void connection_book_destroy(connection_book *book);

void connection_book_opened(connection_book *book, uint16_t slot, int32_t handle);
void connection_book_closed(connection_book *book, uint16_t slot, int32_t handle);
void connection_book_signed_on(connection_book *book, uint16_t slot, int32_t handle);

// A slot outside the book is taken as signed on: its lines are written at once.
connection_verdict connection_book_verdict(const connection_book *book, uint16_t slot, int32_t handle);
