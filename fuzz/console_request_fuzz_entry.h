// One console connection's worth of bytes on the interactive or the realtime port: framed
// by the console connection (little-endian length) and handled by the console interface.
// The fuzzer and the corpus replay in the test run both call this. Whatever the bytes:
// every packet delivered is exactly the next length-framed piece of the stream, the
// stream ends only by the peer's close or by an invalid length, a request is answered
// with whole packets, refused, or (the restart transcode alone) ends the interface with
// EA_RESTART, and nothing the realtime console sends is answered.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_gateway.h"
#include "fuzz/fuzz_stream.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/interface_module/kova_console_packet.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"

enum : uint8_t
{
    CONSOLE_FUZZ_REALTIME = 0x40, // control bit: the stream arrives on the realtime port
};

struct console_request_fuzz_interface
{
    user_session_info_container *users = nullptr;
    interface_info *info = nullptr;

    console_request_fuzz_interface()
    {
        fuzz_gateway &gateway = fuzz_gateway::instance();
        users = gateway.new_user_sessions();
        users->user_session_info_list[1].user_id = 35001;
        users->user_session_info_list[1].logon_status = 2;
        info = interface_info_create(gateway.config_path.c_str(), users, gateway.box, gateway.links, nullptr);
        if (info == nullptr)
            abort();
    }
    ~console_request_fuzz_interface()
    {
        interface_info_destroy(info);
        user_session_info_container_destroy(users);
    }
    console_request_fuzz_interface(const console_request_fuzz_interface &) = delete;
    console_request_fuzz_interface &operator=(const console_request_fuzz_interface &) = delete;
};

// Every answer must be a whole packet whose length field says its length.
inline void console_request_fuzz_drain(queue *q)
{
    while (message *packet = static_cast<message *>(queue_remove_head(q)))
    {
        if (packet->data_length < 2 || get_u16_le(packet->data, 0) != packet->data_length)
            abort();
        message_destroy(packet);
    }
}

inline void console_request_fuzz_one(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> stream;
    uint8_t control = fuzz_split(data, size, &stream);
    const bool realtime = (control & CONSOLE_FUZZ_REALTIME) != 0;
    static console_request_fuzz_interface console;

    interface_nw_handle *entry = interface_nw_handle_create(1, nullptr);
    queue *notifications = queue_create();
    queue *realtime_input = queue_create();
    queue *interactive_input = queue_create();
    queue *interactive_output = queue_create();
    queue *realtime_output = queue_create();
    if (entry == nullptr || notifications == nullptr || realtime_input == nullptr ||
        interactive_input == nullptr || interactive_output == nullptr || realtime_output == nullptr)
        abort();
    fuzz_stream pair;
    entry->socket = pair.reader;
    entry->network_handle = 3; // the entry does not close its socket: the pair does

    size_t next_packet = 0;
    uint32_t counter = 0;
    bool ended = false;
    fuzz_feed(pair, stream, control,
              [&]()
              {
                  for (;;)
                  {
                      message *packet = nullptr;
                      ea_status status = interface_nw_handle_recv(entry, &packet, &counter, nullptr);
                      if (status == EA_VALID)
                          return true;
                      if (status == INTERFACE_CONNECTION_FAILED)
                      {
                          bool bad_length = false;
                          if (next_packet + 2 <= stream.size())
                          {
                              size_t length = fuzz_frame_length(stream, next_packet, true);
                              bad_length =
                                  length < INTERFACE_RECV_MIN_LENGTH || length > INTERFACE_RECV_MAX_LENGTH;
                          }
                          if (!bad_length && pair.writer >= 0)
                              abort();
                          ended = true;
                          return false;
                      }
                      if (status != EA_SUCCESS || packet == nullptr)
                          abort();
                      uint16_t length = packet->data_length;
                      if (next_packet + length > stream.size() ||
                          fuzz_frame_length(stream, next_packet, true) != length ||
                          memcmp(packet->data, stream.data() + next_packet, length) != 0 ||
                          packet->tag != KOVA_MESSAGE)
                          abort();
                      next_packet += length;
                      const bool restart =
                          length > KOVA_OFFSET_TRANSCODE + 1 &&
                          get_u16_le(stream.data() + next_packet - length, KOVA_OFFSET_TRANSCODE) ==
                              QEL_APPLICATION_RESTART_TRANSCODE;
                      if (queue_append(realtime ? realtime_input : interactive_input, packet) != EA_SUCCESS)
                          abort();
                      status = interface_info_process_message(console.info, notifications, realtime_input,
                                                              interactive_input, interactive_output,
                                                              realtime_output, nullptr);
                      if (status != (restart && !realtime ? EA_RESTART : EA_SUCCESS))
                          abort();
                      console_request_fuzz_drain(interactive_output);
                      if (queue_get_count(realtime_output) != 0)
                          abort();
                      if (status == EA_RESTART)
                      {
                          ended = true;
                          return false;
                      }
                  }
              });
    if (!ended)
        abort();
    interface_nw_handle_destroy(entry, 1);
    for (queue *q : {notifications, realtime_input, interactive_input, interactive_output, realtime_output})
        ea_destroy_message_queue(q);
}
