// Helpers shared by the box communication controller's files (container, host records,
// rate control, recovery, admission): queue appends that free what they cannot queue,
// console events, status changes that log themselves, and the per-link rate count.
// Not for use outside controller_module.
#pragma once

#include <cstdint>

#include "gateway/controller_module/box_comm_info_container.h"

struct logger_object;
struct message;
struct queue;

// Appends the record; on failure logs `failure_text`, frees the record and gives EA_ERROR.
ea_status box_comm_append(queue *output, message *msg, const char *failure_text, logger_object *logger);

// A new console event (KOVA_MESSAGE, no data, user id -1) for the link.
ea_status box_comm_send_console_event(uint16_t link_index, uint16_t reason_code, int32_t event_value,
                                      queue *to_interface, logger_object *logger);
// The record in hand becomes the console event; it is freed when it cannot be queued.
ea_status box_comm_reuse_as_console_event(message *msg, uint16_t link_index, uint16_t reason_code,
                                          queue *to_interface, logger_object *logger);

void box_comm_set_box_status(box_comm_info *info, uint16_t link_index, box_status status,
                             logger_object *logger);

// box_rate_control_count[link] = base x percent / 100, truncated toward zero. The host
// network layer reads the count as a signed 16-bit limit, so a product beyond that range
// is held at its largest value instead of wrapping into a negative (blocking) limit.
int32_t box_comm_set_rate_count(box_comm_info_container *container, uint16_t link_index, int32_t base,
                                int32_t percent);
void box_comm_set_rate_count_raw(box_comm_info_container *container, uint16_t link_index, int32_t count);
int32_t box_comm_get_rate_count(const box_comm_info_container *container, uint16_t link_index);
int32_t box_comm_get_base_rate(const box_comm_info_container *container);

// Handlers spread over the controller's files.
ea_status box_comm_process_sign_on_response(box_comm_info_container *container, message *msg,
                                            queue *to_th_session, queue *to_interface, logger_object *logger);
ea_status box_comm_process_sign_off_response(box_comm_info_container *container, message *msg,
                                             queue *to_th_network, queue *to_th_session,
                                             logger_object *logger);
ea_status box_comm_process_box_parameters(box_comm_info_container *container, message *msg,
                                          queue *to_interface, logger_object *logger);
ea_status box_comm_process_rate_control_update(box_comm_info_container *container, message *msg,
                                               queue *to_interface, logger_object *logger);
ea_status box_comm_process_relogon_response(box_comm_info_container *container, message *msg,
                                            queue *to_th_network, queue *to_th_session, queue *to_interface,
                                            logger_object *logger);
ea_status box_comm_rate_control_heart_beat_timer(box_comm_info_container *container, uint16_t link_index,
                                                 uint32_t now, queue *to_th_session, logger_object *logger);

// Session recovery (box_comm_recovery.cpp).
ea_status box_comm_recovery_connection_failure(box_comm_info_container *container, message *msg,
                                               queue *to_th_network, queue *to_th_session,
                                               logger_object *logger);
ea_status box_comm_recovery_flush_returned(box_comm_info_container *container, message *msg,
                                           queue *to_th_network, queue *to_th_session, queue *to_interface,
                                           logger_object *logger);
ea_status box_comm_recovery_relogon_timer(box_comm_info_container *container, uint16_t link_index,
                                          uint32_t now, queue *to_th_session, logger_object *logger);

// Client admission (box_comm_admission.cpp).
ea_status box_comm_admission_incoming_client(box_comm_info_container *container, message *msg,
                                             queue *to_th_session, queue *to_tws_send_validator,
                                             queue *to_fix_send, logger_object *logger);
ea_status box_comm_admission_held_answer(box_comm_info_container *container, queue *to_tws_send_validator,
                                         queue *to_fix_send, logger_object *logger);

const char *box_comm_tag_name(uint16_t tag);
