// The alarm pages' texts: event stream messages, input settings, event rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/VistaAlarmText.h"
#include "quarnel/CaptureIO.h"

namespace {

namespace VA = dravnel::VistaAlarm;
constexpr int U = VA::kUnchanged, X = dravnel::kIOStateUnknown, I = dravnel::kIOStateInactive,
              A = dravnel::kIOStateActive;

TEST(VistaAlarmText, MessagesGiveEachInputItsState) {
    struct Row {
        const char* name;
        std::string message;
        std::vector<int> states;  // of three inputs; empty: message ignored
    };
    const Row rows[] = {
        {"alarm 1, input 2 active", "alarm=1\r\nalarm1=1\r\nalarm2=0\r\nalarm3=0\r\n", {A, I, I}},
        {"alarm 1 with alarm2 only", "alarm=1\r\nalarm2=1\r\n", {I, A, I}},
        {"alarm 0 wins over the inputs", "alarm=0\r\nalarm1=1\r\nalarm2=1\r\n", {I, I, I}},
        {"an input value neither 0 nor 1", "alarm=1\r\nalarm1=2\r\nalarm3=1", {X, I, A}},
        {"alarm neither 0 nor 1", "alarm=2\r\nalarm1=1\r\n", {U, U, U}},
        {"no alarm value", "alarm1=1\r\nalarm2=1\r\n", {}},
        {"empty alarm value", "alarm=\r\nalarm1=1\r\n", {}},
        {"'&' is no terminator here", "alarm=1&alarm1=1\r\n", {U, U, U}},
        {"alarm10 is not alarm1", "alarm=1\nalarm10=1\n", {I, I, I}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(VA::ParseMessage(row.message, 3), row.states);
    }
}

TEST(VistaAlarmText, MessagesThatArriveTogetherAreCutApart) {
    const std::string burst = "alarm=1\r\nalarm1=1\r\nalarm=0\r\nalarm1=0\r\n alarm =1\nalarm1=1";
    const std::vector<std::string_view> expected{"alarm=1\r\nalarm1=1\r\n", "alarm=0\r\nalarm1=0\r\n",
                                                 " alarm =1\nalarm1=1"};
    EXPECT_EQ(VA::SplitMessages(burst), expected);
    EXPECT_EQ(VA::SplitMessages("junk\r\nalarm=1\r\n"), std::vector<std::string_view>{"junk\r\nalarm=1\r\n"});
    EXPECT_TRUE(VA::SplitMessages("").empty());
}

TEST(VistaAlarmText, InputSettingsAreCompletedForEveryListedInput) {
    const std::string reply =
        "res=200&alarm_in_1_enable=1&alarm_in_1_type=NO&alarm_in_1_time=3"
        "&alarm_in_2_enable=0&alarm_in_2_type=NO&alarm_in_2_time=1"
        "\r\nalarm_in_3_enable=1\r\nalarm_in_3_type=NC\r\nalarm_in_3_time=1\r\n"
        "alarm_in_4_enable=1&alarm_in_4_type=NC";  // no time: left alone
    const VA::AlarmInputPlan plan = VA::PlanAlarmInputs(reply, 5);
    EXPECT_EQ(plan.configured, 1u);
    EXPECT_EQ(plan.parameters,
              "&alarm_in_2_enable=1&alarm_in_2_type=NO&alarm_in_2_time=1"
              "&alarm_in_3_enable=1&alarm_in_3_type=NO&alarm_in_3_time=1");
    EXPECT_EQ(VA::PlanAlarmInputs(reply, 1).parameters, "");
}

TEST(VistaAlarmText, TheManualTriggerRuleIsFoundInTheEventList) {
    struct Row {
        const char* name;
        std::string reply;
        bool found;
        std::string id, action;
    };
    const Row rows[] = {
        {"trigger(1), padded", "res=200&event_list=7|Motion|motion(1)|Record\n9|Gate| trigger(1)\t| AlarmOut |x\n",
         true, "9", "AlarmOut"},
        {"manualtrigger", "res=200&event_list=4|M|manualtrigger|Record&event_cnt=1", true, "4", "Record"},
        {"three fields are too few", "res=200&event_list=4|M|trigger(1)\n", false, "", ""},
        {"the list ends at '&'", "res=200&event_list=1|a|motion(1)|Record&2|b|trigger(1)|AlarmOut\n", false, "", ""},
        {"first of two", "event_list=1|a|trigger(1)|Record\n2|b|trigger(1)|AlarmOut", true, "1", "Record"},
        {"no list", "res=200", false, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const VA::EventRule rule = VA::FindTriggerRule(row.reply);
        EXPECT_EQ(rule.found, row.found);
        EXPECT_EQ(rule.id, row.id);
        EXPECT_EQ(rule.action, row.action);
    }
}

TEST(VistaAlarmText, RuleParametersSwitchOnlyTheAlarmOutput) {
    const std::string add =
        "res=200&event_in_cnt=3&event_in_name_list1=motion(1)&event_in_id_list1=1"
        "&event_in_name_list2= manualtrigger &event_in_id_list2=12"
        "&event_in_name_list3=trigger(1)&event_in_id_list3=13&preset_use=1";
    EXPECT_EQ(VA::FindTriggerEventIn(add), "12");
    EXPECT_EQ(VA::FindTriggerEventIn("event_in_cnt=4294967295&event_in_name_list1=x"), "");
    const std::string common =
        "&event_name=AlarmOut&event_out_smtp=0"
        "&event_out_smtp_en1=0&event_out_smtp_en2=0&event_out_smtp_en3=0&event_out_smtp_en4=0"
        "&event_out_smtp_en5=0&event_out_smtp_en6=0&event_out_smtp_en7=0&event_out_smtp_en8=0"
        "&event_out_smtp_title=&event_out_smtp_msg=&event_out_ftp=0&event_out_http=0&event_out_http_msg="
        "&event_out_alarm=1&event_out_audio=0&event_out_audio_file=1";
    EXPECT_EQ(VA::RuleParameters(add, "12"), common +
                                                 "&event_out_preset=0&event_out_preset_num=1&event_out_preset_home=0"
                                                 "&event_out_record=0&event_in_id=12");
    EXPECT_EQ(VA::RuleParameters("res=200&preset_use=0", "5"), common + "&event_out_record=0&event_in_id=5");
    EXPECT_EQ(VA::RuleParameters(add, ""), "");
}

}  // namespace
