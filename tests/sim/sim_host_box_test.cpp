// The simulated host's box and session behaviour, driven by a scripted gateway with its
// own framing: sign-on and its refusals, acknowledgements, rate updates, sign-off, heart
// beats, and the session kept across connections for relogons, with the injected faults.
#include <gtest/gtest.h>

#include <memory>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "tests/sim/sim_host_peer.h"

using namespace sim_host_test;

namespace
{

class box_fixture
{
  public:
    explicit box_fixture(qel_sim::box_options options = default_options(), qel_sim::box_faults faults = {})
    {
        EXPECT_TRUE(host.start());
        box.reset(new qel_sim::sim_box_host(host, options));
        box->set_faults(faults);
        EXPECT_TRUE(gateway.connect(host.port()));
    }
    ~box_fixture()
    {
        gateway.close();
        box.reset();
        host.stop();
    }

    static qel_sim::box_options default_options()
    {
        qel_sim::box_options options;
        options.box_id = 101;
        options.broker_id = "12345";
        return options;
    }

    // Signs box 101 on with frame 1 and takes both answers; the next number is 2.
    void sign_on()
    {
        ASSERT_TRUE(gateway.send(packet({box_sign_on(101, "12345")}), 1, 0));
        peer_frame f;
        ASSERT_TRUE(gateway.receive_transcode(23001, &f));
        ASSERT_TRUE(gateway.receive_transcode(23007, &f));
    }

    qel_sim::sim_host host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    peer gateway;
};

} // namespace

TEST(SimHostBox, SignOnIsAnsweredWithTheResponseThenTheBoxParameters)
{
    box_fixture t;
    ASSERT_TRUE(t.gateway.send(packet({box_sign_on(101, "12345")}), 1, 0));
    peer_frame response;
    ASSERT_TRUE(t.gateway.receive(&response));
    EXPECT_EQ(response.sequence, 1);
    EXPECT_EQ(response.last, 1);
    EXPECT_EQ(response.body, packet({layout(38, {{0, "59d9 0065 0000"}, {14, "45"}})}));
    peer_frame parameters;
    ASSERT_TRUE(t.gateway.receive(&parameters));
    EXPECT_EQ(parameters.sequence, 2);
    EXPECT_EQ(parameters.body, packet({layout(38, {{0, "59df 0064 000a 0065"}})}));
    qel_sim::box_session_state state = t.box->state();
    EXPECT_TRUE(state.signed_on);
    EXPECT_TRUE(state.parameters_sent);
    EXPECT_EQ(state.next_send, 3);
    EXPECT_EQ(state.last_received, 1);
    EXPECT_TRUE(t.box->session_faults().empty());
}

TEST(SimHostBox, EachSignOnFaultShowsInWhatTheHostAnswers)
{
    struct row
    {
        const char *name;
        std::function<void(qel_sim::box_options &, qel_sim::box_faults &)> set;
        std::vector<std::string> expected; // first records of the frames, as hex
    } rows[] = {
        {"refused",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.sign_on_error = 16500; },
         {"59d9 0065 4074"}},
        {"unknown box",
         [](qel_sim::box_options &o, qel_sim::box_faults &) { o.box_id = 7; },
         {"59d9 0065 3e81"}},
        {"unknown broker",
         [](qel_sim::box_options &o, qel_sim::box_faults &) { o.broker_id = "99999"; },
         {"59d9 0065 3e81"}},
        {"wrong box id in the response",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.wrong_box_id_sign_on = true; },
         {"59d9 0066 0000", "59df 0064 000a 0065"}},
        {"wrong box id in the parameters",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.wrong_box_id_parameters = true; },
         {"59d9 0065 0000", "59df 0064 000a 0066"}},
        {"invalid parameters",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.invalid_parameters = true; },
         {"59d9 0065 0000", "59df 0000 0000 0065"}},
        {"parameters first",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.parameters_first = true; },
         {"59df 0064 000a 0065", "59d9 0065 0000"}},
        {"parameters withheld",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.withhold_parameters = true; },
         {"59d9 0065 0000"}},
        {"response withheld",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.withhold_sign_on_response = true; },
         {}},
        {"no recovery",
         [](qel_sim::box_options &o, qel_sim::box_faults &) { o.recovery_enabled = false; },
         {"59d9 0065 0000 0000000000000000 44", "59df 0064 000a 0065"}},
    };
    for (const row &r : rows)
    {
        qel_sim::box_options options = box_fixture::default_options();
        qel_sim::box_faults faults;
        r.set(options, faults);
        box_fixture t(options, faults);
        ASSERT_TRUE(t.gateway.send(packet({box_sign_on(101, "12345")}), 1, 0));
        for (const std::string &expected : r.expected)
        {
            peer_frame f;
            ASSERT_TRUE(t.gateway.receive(&f)) << r.name;
            bytes head = from_hex(expected);
            EXPECT_EQ(bytes(f.body.begin() + 2, f.body.begin() + 2 + static_cast<long>(head.size())), head)
                << r.name;
        }
        peer_frame extra;
        EXPECT_FALSE(t.gateway.receive(&extra, 200)) << r.name << ": nothing more";
    }
}

TEST(SimHostBox, LateAnswersComeAfterTheirDelays)
{
    qel_sim::box_faults faults;
    faults.sign_on_delay_ms = 1500;
    faults.parameters_delay_ms = 1500;
    box_fixture t(box_fixture::default_options(), faults);
    ASSERT_TRUE(t.gateway.send(packet({box_sign_on(101, "12345")}), 1, 0));
    peer_frame f;
    EXPECT_FALSE(t.gateway.receive(&f, 100)) << "the response is late";
    ASSERT_TRUE(t.gateway.receive(&f, 10000));
    EXPECT_EQ(f.transcode(), 23001);
    EXPECT_FALSE(t.gateway.receive(&f, 100)) << "the parameters are later still";
    ASSERT_TRUE(t.gateway.receive(&f, 10000));
    EXPECT_EQ(f.transcode(), 23007);
}

TEST(SimHostBox, NumberedFramesAreAcknowledgedUnlessAcknowledgementsAreWithheld)
{
    box_fixture t;
    t.sign_on();
    // A rate-control heart beat gets a numbered acknowledgement naming it.
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 2));
    peer_frame ack;
    ASSERT_TRUE(t.gateway.receive(&ack));
    EXPECT_EQ(ack.sequence, 3);
    EXPECT_EQ(ack.last, 2);
    EXPECT_EQ(ack.body, packet({from_hex("61ab 0002")}));
    // The gateway's own heart beats travel unnumbered and get nothing.
    ASSERT_TRUE(t.gateway.send(packet({from_hex("5bd2")}), 0, 3));
    peer_frame none;
    EXPECT_FALSE(t.gateway.receive(&none, 200));

    qel_sim::box_faults faults;
    faults.withhold_acknowledgements = true;
    t.box->set_faults(faults);
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 3, 3));
    EXPECT_FALSE(t.gateway.receive(&none, 200)) << "no acknowledgement";
    // Replies still flow, but their header acknowledges nothing beyond 2.
    t.box->send_rate_update(0);
    peer_frame rate;
    ASSERT_TRUE(t.gateway.receive(&rate));
    EXPECT_EQ(rate.last, 2);
    EXPECT_EQ(rate.body, packet({from_hex("5bd0 0000")}));
    qel_sim::box_session_state state = t.box->state();
    EXPECT_EQ(state.last_received, 3);
    EXPECT_EQ(state.rate_heart_beats_received, 2u);
    EXPECT_EQ(state.heart_beats_received, 1u);
}

TEST(SimHostBox, HostActionsReachTheGateway)
{
    qel_sim::box_options options = box_fixture::default_options();
    options.heart_beat_interval_ms = 50;
    box_fixture t(options);
    t.sign_on();
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive_transcode(23006, &f));
    EXPECT_EQ(f.sequence, 0) << "host heart beats are unnumbered";
    EXPECT_EQ(f.body, packet({from_hex("59de")}));

    t.box->send_rate_update(50);
    ASSERT_TRUE(t.gateway.receive_transcode(23504, &f));
    EXPECT_EQ(f.body, packet({from_hex("5bd0 0032")}));
    t.box->send_box_parameters(200, 20);
    ASSERT_TRUE(t.gateway.receive_transcode(23007, &f));
    EXPECT_EQ(f.body, packet({layout(38, {{0, "59df 00c8 0014 0065"}})}));
    t.box->sign_off_box(7);
    ASSERT_TRUE(t.gateway.receive_transcode(20322, &f));
    EXPECT_EQ(f.body, packet({layout(38, {{0, "4f62 0065"}, {8, "0007"}})}));
    EXPECT_FALSE(t.box->state().signed_on);
}

TEST(SimHostBox, RelogonResumesTheSessionOnANewConnection)
{
    box_fixture t;
    t.sign_on();
    // The host sends 3 and 4; the gateway has taken only up to 3 when the link breaks.
    t.box->send_rate_update(0);
    t.box->send_rate_update(100);
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive_transcode(23504, &f));
    ASSERT_TRUE(t.gateway.receive_transcode(23504, &f));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 3));
    ASSERT_TRUE(t.gateway.receive_transcode(25003, &f));
    EXPECT_EQ(f.sequence, 5);
    t.gateway.close();
    ASSERT_TRUE(
        t.box->wait_for_state([](const qel_sim::box_session_state &s) { return s.connection == 0; }, 5000));

    ASSERT_TRUE(t.gateway.connect(t.host.port()));
    ASSERT_TRUE(t.gateway.send(packet({box_relogon(101, "12345", 3, 3)}), 0, 0));
    ASSERT_TRUE(t.gateway.receive(&f));
    EXPECT_EQ(f.sequence, 0);
    EXPECT_EQ(f.body, packet({layout(38, {{0, "5bcf 0065 0000"}, {18, "0003"}})})) << "next expected: 3";
    // Frames 4 and 5 again, with their numbers.
    ASSERT_TRUE(t.gateway.receive(&f));
    EXPECT_EQ(f.sequence, 4);
    EXPECT_EQ(f.body, packet({from_hex("5bd0 0064")}));
    ASSERT_TRUE(t.gateway.receive(&f));
    EXPECT_EQ(f.sequence, 5);
    // The session goes on: the next numbered frame from the gateway is 3.
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 3, 5));
    ASSERT_TRUE(t.gateway.receive_transcode(25003, &f));
    EXPECT_EQ(f.sequence, 6);
    EXPECT_EQ(f.last, 3);
    qel_sim::box_session_state state = t.box->state();
    EXPECT_EQ(state.relogons, 1u);
    EXPECT_EQ(state.records_retransmitted, 2u);
    EXPECT_TRUE(t.box->session_faults().empty());
}

TEST(SimHostBox, RelogonFaults)
{
    struct row
    {
        const char *name;
        qel_sim::box_faults faults;
        std::string answer;
    };
    std::vector<row> rows(4);
    rows[0] = {"one below", {}, "5bcf 0065 0000"};
    rows[0].faults.relogon_offset = -1;
    rows[1] = {"one above", {}, "5bcf 0065 0000"};
    rows[1].faults.relogon_offset = 1;
    rows[2] = {"refused", {}, "5bcf 0065 3e80"};
    rows[2].faults.relogon_error = 16000;
    rows[3] = {"wrong box id", {}, "5bcf 0066 0000"};
    rows[3].faults.wrong_box_id_relogon = true;
    uint16_t expected_next[] = {1, 3, 0, 2};
    for (size_t i = 0; i < rows.size(); ++i)
    {
        box_fixture t;
        t.sign_on();
        t.box->set_faults(rows[i].faults);
        t.gateway.close();
        ASSERT_TRUE(t.box->wait_for_state(
            [](const qel_sim::box_session_state &s) { return s.connection == 0; }, 5000));
        ASSERT_TRUE(t.gateway.connect(t.host.port()));
        ASSERT_TRUE(t.gateway.send(packet({box_relogon(101, "12345", 2, 2)}), 0, 0));
        peer_frame f;
        ASSERT_TRUE(t.gateway.receive(&f)) << rows[i].name;
        bytes head = from_hex(rows[i].answer);
        EXPECT_EQ(bytes(f.body.begin() + 2, f.body.begin() + 2 + static_cast<long>(head.size())), head)
            << rows[i].name;
        EXPECT_EQ(be16(f.body, 20), expected_next[i]) << rows[i].name;
    }

    // A relogon for a box that never signed on is refused.
    box_fixture t;
    ASSERT_TRUE(t.gateway.send(packet({box_relogon(101, "12345", 1, 0)}), 0, 0));
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive(&f));
    EXPECT_EQ(bytes(f.body.begin() + 2, f.body.begin() + 8), from_hex("5bcf 0065 3e82"));
}

TEST(SimHostBox, LostFramesThenADroppedLinkAreRecoveredByARelogon)
{
    box_fixture t;
    t.sign_on();
    qel_sim::box_faults faults;
    faults.lose_then_drop = 2;
    t.box->set_faults(faults);
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 2));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 3, 2));
    EXPECT_TRUE(t.gateway.closed_by_host(5000));
    ASSERT_TRUE(
        t.box->wait_for_state([](const qel_sim::box_session_state &s) { return s.connection == 0; }, 5000));
    EXPECT_EQ(t.box->state().last_received, 1) << "neither frame counted";

    ASSERT_TRUE(t.gateway.connect(t.host.port()));
    ASSERT_TRUE(t.gateway.send(packet({box_relogon(101, "12345", 2, 2)}), 0, 0));
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive(&f));
    EXPECT_EQ(be16(f.body, 20), 2) << "the host wants 2 again";
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 2));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 3, 2));
    ASSERT_TRUE(t.box->wait_for_state(
        [](const qel_sim::box_session_state &s) { return s.last_received == 3; }, 5000));
    EXPECT_TRUE(t.box->session_faults().empty());
}

TEST(SimHostBox, SequenceFaultsOnBothSides)
{
    box_fixture t;
    t.sign_on();
    qel_sim::box_faults faults;
    faults.restart_sequence_after = 1;
    t.box->set_faults(faults);
    t.box->send_rate_update(10);
    t.box->send_rate_update(20);
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive_transcode(23504, &f));
    EXPECT_EQ(f.sequence, 3);
    ASSERT_TRUE(t.gateway.receive_transcode(23504, &f));
    EXPECT_EQ(f.sequence, 1) << "the host's numbering restarted";

    // The gateway repeating a number is a duplicate; skipping one is a gap.
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 1));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 2, 1));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), 4, 1));
    ASSERT_TRUE(t.box->wait_for_line("(gap)", 5000));
    std::vector<qel_sim::session_fault> seen = t.box->session_faults();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].what.find("duplicate frame 2"), std::string::npos);
    EXPECT_NE(seen[1].what.find("frame 4 where 3 was due"), std::string::npos);
}

TEST(SimHostBox, RecordsBeforeTheSignOnAreFaultsAndGetNoAnswer)
{
    box_fixture t;
    ASSERT_TRUE(t.gateway.send(packet({exchange_record(1600, 1001, 44)}), 1, 0));
    ASSERT_TRUE(t.box->wait_for_line("FAULT", 5000));
    peer_frame f;
    EXPECT_FALSE(t.gateway.receive(&f, 200));
    // A sign-on numbered other than 1 is reported but answered.
    ASSERT_TRUE(t.gateway.send(packet({box_sign_on(101, "12345")}), 5, 0));
    ASSERT_TRUE(t.gateway.receive_transcode(23001, &f));
    EXPECT_EQ(t.box->session_faults().size(), 2u);
}
