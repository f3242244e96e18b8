// The simulated camera's alarm pages refuse what a device refuses, so that a
// driver that sends a wrong request fails against them as against a device.
#include <gtest/gtest.h>

#include <string>

#include "sim/device/AlarmDevice.h"
#include "sim/web/WebServer.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using dravnel::test::SimHttpGet;

TEST(AlarmDevice, PagesAcceptWhatADeviceAcceptsAndRefuseTheRest) {
    dravnel::sim::WebServer web;
    ASSERT_TRUE(web.Start(0));
    dravnel::sim::AlarmDevice alarms(web, 2, 1);
    const std::string rule =
        "&event_name=A&event_out_smtp=0&event_out_ftp=0&event_out_http=0&event_out_alarm=1"
        "&event_out_audio=0&event_out_record=0";
    struct Row {
        const char* name;
        std::string target;
        std::string body;  // the reply begins with it
    };
    const Row rows[] = {
        {"inputs as they come", "/event/alarm_in.php?app=get",
         "res=200&alarm_in_1_enable=0&alarm_in_1_type=NC&alarm_in_1_time=0&alarm_in_2_enable=0"},
        {"input set", "/event/alarm_in.php?app=set&alarm_in_2_enable=1&alarm_in_2_type=NO", "res=200"},
        {"no input 3", "/event/alarm_in.php?app=set&alarm_in_3_enable=1", "res=400"},
        {"no such type", "/event/alarm_in.php?app=set&alarm_in_1_type=XX", "res=400"},
        {"unknown app", "/event/alarm_out.php?app=put", "res=400"},
        {"enable is 0 or 1", "/event/alarm_out.php?app=set&alarm_out_enable=2", "res=400"},
        {"trigger read", "/event/trigger.php?app=get", "res=200&trigger1_enable=0&trigger1_time=5"},
        {"make_trigger is 1", "/event/trigger.php?make_trigger=0", "res=400"},
        {"modify of no rule", "/event/event_pop.php?app=get&method=modify&event_in_id=3", "res=400"},
        {"rule on an unknown event in", "/event/event_pop.php?app=set&method=add" + rule + "&event_in_id=9", "res=400"},
        {"rule lacking an action", "/event/event_pop.php?app=set&method=add&event_name=A&event_in_id=3", "res=400"},
        {"rule added", "/event/event_pop.php?app=set&method=add" + rule + "&event_in_id=3", "res=200"},
        {"added twice", "/event/event_pop.php?app=set&method=add" + rule + "&event_in_id=3", "res=400"},
        {"the rule listed", "/event/map.php?app=get", "res=200&event_cnt=1&event_list=3|A|trigger(1)|AlarmOut\n"},
        {"older output", "/admin/event.html?app=set&mandatory_out_enable=1&mandatory_out_mode=1", "OK"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply = SimHttpGet(web.Port(), row.target);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body.substr(0, row.body.size()), row.body) << reply.body;
    }
    EXPECT_TRUE(alarms.Settings().inputs[1].enable);
    EXPECT_EQ(alarms.Settings().inputs[1].type, "NO");
    EXPECT_TRUE(alarms.Relay(0));
    EXPECT_EQ(SimHttpGet(web.Port(), "/admin/event.html?app=set&mandatory_out_mode=x").status, 400);
}

}  // namespace
