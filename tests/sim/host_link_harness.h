// The gateway's host link transport in one process against the simulated host: the
// host send validator, the host network thread and the host receive validator run on
// real shared queues, and the test plays the host session layer and box communication
// around them (queues 8, 13, 14, 16 to 19).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gateway/message_validators/message_validators.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "sim/host/sim_host.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"

namespace qel_test
{

class host_link_harness
{
  public:
    // Held from before the threads start until after they end: the link's timers, its
    // back-off and its folds move only by the test's steps.
    held_tick held;
    qel_sim::sim_host host;
    temp_dir dir;
    ea_flag rate[1] = {{100}};
    ea_flag invite[1] = {{0}};
    user_link_info *table = nullptr;
    th_nw_info *links = nullptr;
    shared_queue *q8 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q11 = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
    shared_queue *q12 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q13 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q14 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q16 = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
    shared_queue *q17 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q18 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q19 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0};
    ea_flag days[3] = {{0}, {0}, {0}};
    th_send_validator_thread_args send_args{};
    th_receive_validator_thread_args receive_args{};
    th_nw_handler_thread_args network_args{};
    ea_thread *threads[3] = {};
    uint16_t next_sequence = 1;
    // The three threads' loggers when the harness was asked to log; else they log nothing.
    std::unique_ptr<gateway_test_loggers> loggers;

    explicit host_link_harness(const std::map<std::string, std::string> &keys = {}, bool logged = false)
    {
        host.start();
        gateway_config config;
        config.values["HOST_PORT_NUMBER"] = std::to_string(host.port());
        for (const auto &key : keys)
            config.values[key.first] = key.second;
        std::string file = config.write(dir);
        table = user_link_info_create(file.c_str(), 1, nullptr);
        links = th_nw_info_create(file.c_str(), 1, rate, table, invite, nullptr);
        if (logged)
            loggers.reset(new gateway_test_loggers(
                {"th_send_validator_thread", "th_network_handler_thread", "th_receive_validator_thread"}));
        auto logger = [&](const char *name) { return loggers != nullptr ? loggers->get(name) : nullptr; };
        send_args = {q8, q11, 10, &shutdown, &days[0], logger("th_send_validator_thread")};
        receive_args = {q12, q13, q14, 10, &shutdown, &days[1], logger("th_receive_validator_thread")};
        network_args = {links,
                        q16,
                        q11,
                        q12,
                        q14,
                        q18,
                        q17,
                        q19,
                        10,
                        1,
                        &shutdown,
                        &days[2],
                        logger("th_network_handler_thread")};
        threads[0] = ea_thread_create(th_send_validator_thread, &send_args, nullptr);
        threads[1] = ea_thread_create(th_nw_handler_thread, &network_args, nullptr);
        threads[2] = ea_thread_create(th_receive_validator_thread, &receive_args, nullptr);
    }

    ~host_link_harness()
    {
        stop();
        th_nw_info_destroy(links);
        user_link_info_destroy(table);
        queue *rest = queue_create();
        for (shared_queue *sq : {q8, q11, q12, q13, q14, q16, q17, q18, q19})
        {
            shared_queue_get_elements_no_wait(sq, rest);
            shared_queue_destroy(sq);
        }
        ea_destroy_message_queue(rest);
        for (auto &kept : m_kept)
        {
            for (message *msg : kept.second)
                message_destroy(msg);
        }
        host.stop();
    }

    // Ends the three threads through the shutdown flag.
    void stop()
    {
        ea_flag_set(&shutdown, 1);
        for (ea_thread *&thread : threads)
        {
            if (thread != nullptr)
            {
                ea_thread_join(thread, 10000, nullptr);
                ea_thread_close(thread);
                thread = nullptr;
            }
        }
    }

    // The exit values of the three threads once they ended (after shutdown).
    int32_t exit_value(int i) const { return threads[i]->exit_value; }

    // The next record with this tag from a queue (the caller frees it); records with
    // other tags are kept for later calls. Null after the time-out.
    message *wait_for(shared_queue *sq, uint16_t tag, int timeout_ms = 5000)
    {
        std::deque<message *> &kept = m_kept[sq];
        for (int waited = 0;; waited += 10)
        {
            for (auto it = kept.begin(); it != kept.end(); ++it)
            {
                if ((*it)->tag == tag)
                {
                    message *msg = *it;
                    kept.erase(it);
                    return msg;
                }
            }
            if (waited >= timeout_ms)
                return nullptr;
            queue *local = queue_create();
            shared_queue_get_elements_from_single_queue(sq, local, 10);
            while (message *msg = static_cast<message *>(queue_remove_head(local)))
                kept.push_back(msg);
            queue_destroy(local);
        }
    }

    // True when a record with this tag arrives on the queue within the time.
    bool sees(shared_queue *sq, uint16_t tag, int timeout_ms)
    {
        message *msg = wait_for(sq, tag, timeout_ms);
        if (msg == nullptr)
            return false;
        message_destroy(msg);
        return true;
    }

    // Records kept from a queue, in arrival order (tags only).
    std::vector<uint16_t> kept_tags(shared_queue *sq)
    {
        std::vector<uint16_t> tags;
        for (message *msg : m_kept[sq])
            tags.push_back(msg->tag);
        return tags;
    }

    // What the host session layer gives the send validator.
    message *record(const qel_sim::bytes &data, uint16_t tag, int32_t handle)
    {
        message *msg = message_create(static_cast<uint32_t>(data.size()), tag);
        std::copy(data.begin(), data.end(), msg->data);
        msg->link_index = 0;
        msg->host_network_handle = handle;
        msg->packing_weight = 1;
        if (tag == NORMAL_MESSAGE || tag == BOX_LOGON_REQUEST || tag == BOX_RELOGON_REQUEST)
            msg->network_sequence_number = next_sequence++;
        return msg;
    }

    // A box sign-on request for box 101 and broker "12345": count 1, transcode 23000.
    static qel_sim::bytes box_sign_on()
    {
        qel_sim::bytes data;
        qel_sim::put_be16(data, 1);
        qel_sim::put_be16(data, 23000);
        qel_sim::put_be16(data, 101);
        for (char c : std::string("12345"))
            data.push_back(static_cast<uint8_t>(c));
        data.push_back(0);
        qel_sim::put_be32(data, 41402);
        qel_sim::put_be32(data, 0);
        qel_sim::put_be32(data, 0);
        return data;
    }

    // A packet of one generic record of `length` bytes with the given transcode.
    static qel_sim::bytes packet(uint16_t transcode, uint16_t length, uint8_t fill)
    {
        qel_sim::bytes entry(length, fill);
        entry[0] = static_cast<uint8_t>(transcode >> 8);
        entry[1] = static_cast<uint8_t>(transcode);
        entry[38] = static_cast<uint8_t>(length >> 8);
        entry[39] = static_cast<uint8_t>(length);
        return qel_sim::host_encode_packet({entry});
    }

    void put(shared_queue *sq, message *msg) { shared_queue_insert_single_element(sq, msg); }

    // Sends the sign-on with a connect order; the new handle, or -1.
    int32_t logon(uint16_t tag = BOX_LOGON_REQUEST)
    {
        next_sequence = 1;
        put(q8, record(box_sign_on(), tag, -1));
        message *initiated = wait_for(q14, HOST_CONNECTION_INITIATED);
        if (initiated == nullptr)
            return -1;
        int32_t handle = initiated->host_network_handle;
        message_destroy(initiated);
        return handle;
    }

  private:
    std::map<shared_queue *, std::deque<message *>> m_kept;
};

} // namespace qel_test
