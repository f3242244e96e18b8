#include "io/CVistaIO.h"

#include <vector>

#include "io/VistaAlarmText.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel {

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

void LogResult(IDriver* driver, const CResultDef& result) {
    if (!result.message.empty() && result.level != static_cast<uint32_t>(kLevelNever))
        driver->DebugMessage(static_cast<int>(result.level), "%s", result.message.c_str());
}

}  // namespace

CVistaIO::CVistaIO(IDriver* driver)
    : CIOBase(driver, driver->GetParameterInt(4) != 0),
      mode_(driver->GetParameterInt(4)),
      inputSender_(*driver->GetDeviceInfo()),
      outputSender_(*driver->GetDeviceInfo()) {}

CVistaIO::~CVistaIO() { StopIO(); }

bool CVistaIO::StopIO() {
    const bool stopped = CIOBase::StopIO();
    inputSender_.DropConnections();
    outputSender_.DropConnections();
    return stopped;
}

void CVistaIO::ResetConfiguration() {
    inputsConfigured_ = false;
    outputsConfigured_ = false;
    inputSender_.Resume();
    outputSender_.Resume();
}

void CVistaIO::AbortRequests() {
    inputSender_.Cancel();
    outputSender_.Cancel();
}

bool CVistaIO::RequestGet_AlarmIn(const std::string& path, std::string& reply) {
    return RequestGet(inputSender_, InputStopping(), "dravnel::CVistaIO::RequestGet_AlarmIn", path, reply);
}

bool CVistaIO::RequestGet_AlarmOut(const std::string& path, std::string& reply) {
    return RequestGet(outputSender_, OutputStopping(), "dravnel::CVistaIO::RequestGet_AlarmOut", path, reply);
}

bool CVistaIO::RequestGet(Web::CHttpSender& sender, bool stopping, const char* function, const std::string& path,
                          std::string& reply) {
    reply.clear();
    if (stopping || path.empty()) return false;
    std::vector<uint8_t> body;
    CResultDef result = HUtils::RequestGetRD(path, body, sender, true);
    if (result.Succeeded() && !body.empty()) {
        std::string text = Text(body);
        const std::string res = HUtils::GetValue(text, "res", "=", "&\r\n");
        if (res == "200") {
            reply = std::move(text);
            return true;
        }
        const std::string address = Driver()->GetAddressText();
        result = CResultDef(kLevelError, CResultDef::kBadResult,
                            HUtils::Format("%s: Device %s unable to process request \"%s\", result code = %s", function,
                                           address.c_str(), path.c_str(), res.c_str()));
    }
    LogResult(Driver(), result);
    return false;
}

// ---- inputs ----

bool CVistaIO::ConfigureInputs() {
    std::string reply;
    if (!RequestGet_AlarmIn(std::string("/event/alarm_in.php?app=") + "get", reply)) return false;
    const VistaAlarm::AlarmInputPlan plan = VistaAlarm::PlanAlarmInputs(reply, GetInputCount());
    if (!plan.parameters.empty())
        return RequestGet_AlarmIn(std::string("/event/alarm_in.php?app=") + "set" + plan.parameters, reply);
    return plan.configured > 0;
}

bool CVistaIO::GetInputStates() {
    if (!inputsConfigured_) {
        inputsConfigured_ = ConfigureInputs();
        if (!inputsConfigured_) return false;
    }
    bool received = true;
    std::vector<uint8_t> scratch;
    std::vector<uint8_t> buffer;
    for (;;) {
        if (InputStopping()) return true;
        // A connection that delivered no message ends the reading: the
        // device is taken to be failing, not just quiet.
        if (!received) return false;
        const CResultDef result = HUtils::RequestGetRD(kEventStreamPath, scratch, inputSender_, false);
        if (!result.Succeeded()) {
            LogResult(Driver(), result);
            received = false;
        } else {
            received = false;
            while (!InputStopping()) {
                // The first byte waits for the next chunk; the rest of it is
                // then ready at once.
                if (inputSender_.ReadData(buffer, 1, true) != 1) break;
                if (InputStopping()) break;
                const uint32_t available = inputSender_.QueryDataAvailable();
                if (inputSender_.ReadData(buffer, available, false) == 0) break;
                ApplyMessages(Text(buffer));
                received = true;
            }
        }
        inputSender_.CloseRequest();
    }
}

void CVistaIO::ApplyMessages(const std::string& burst) {
    const unsigned count = GetInputCount();
    for (std::string_view message : VistaAlarm::SplitMessages(burst)) {
        const std::vector<int> states = VistaAlarm::ParseMessage(message, count);
        for (unsigned i = 0; i < states.size(); ++i)
            if (states[i] != VistaAlarm::kUnchanged) UpdateInputState(i, states[i]);
    }
}

void CVistaIO::OnAlarmBits(unsigned bits) {
    const unsigned count = GetInputCount();
    for (unsigned i = 0; i < count && i < 32; ++i)
        UpdateInputState(i, (bits >> i) & 1u ? kIOStateActive : kIOStateInactive);
}

// ---- output ----

bool CVistaIO::SetOutputState(unsigned index, int state) {
    if (mode_ == 0) {
        std::vector<uint8_t> reply;
        const std::string path = std::string("/admin/event.html?app=set&mandatory_out_enable=1&mandatory_out_mode=") +
                                 (state == kIOStateInactive ? "0" : "1");
        return HUtils::RequestGetBody(path, outputSender_, reply);
    }
    if (!outputsConfigured_) outputsConfigured_ = ConfigureAlarmOutput() && ConfigureTrigger() && ConfigureEventRule();
    if (!outputsConfigured_) return false;
    if (state == kIOStateActive) return FireTrigger();
    return true;
}

bool CVistaIO::ConfigureAlarmOutput() {
    std::string reply;
    if (!RequestGet_AlarmOut("/event/alarm_out.php?app=get", reply)) return false;
    const std::string enable = HUtils::GetValue(reply, "alarm_out_enable", "=", "&\r\n");
    if (!enable.empty() && enable != "1")
        return RequestGet_AlarmOut("/event/alarm_out.php?app=set&alarm_out_enable=1", reply);
    return true;
}

bool CVistaIO::ConfigureTrigger() {
    std::string reply;
    if (!RequestGet_AlarmOut("/event/trigger.php?app=get", reply)) return false;
    const std::string enable = HUtils::GetValue(reply, "trigger1_enable", "=", "&\r\n");
    const std::string time = HUtils::GetValue(reply, "trigger1_time", "=", "&\r\n");
    if (enable.empty() || time.empty() || enable == "1") return true;
    return RequestGet_AlarmOut("/event/trigger.php?app=set&trigger1_enable=1&trigger1_time=" + time, reply);
}

bool CVistaIO::ConfigureEventRule() {
    std::string reply;
    if (!RequestGet_AlarmOut("/event/map.php?app=get", reply)) return false;
    const VistaAlarm::EventRule rule = VistaAlarm::FindTriggerRule(reply);
    if (rule.found && rule.action == "AlarmOut") return true;
    if (rule.found) {
        std::string modify;
        if (RequestGet_AlarmOut("/event/event_pop.php?app=get&method=modify&event_in_id=" + rule.id, modify)) {
            const std::string parameters = VistaAlarm::RuleParameters(modify, rule.id);
            if (!parameters.empty())
                return RequestGet_AlarmOut(std::string("/event/event_pop.php?app=set&method=") + "modify" + parameters,
                                           modify);
        }
    }
    std::string add;
    if (!RequestGet_AlarmOut("/event/event_pop.php?app=get&method=add", add)) return false;
    const std::string parameters = VistaAlarm::RuleParameters(add, VistaAlarm::FindTriggerEventIn(add));
    if (parameters.empty()) return false;
    return RequestGet_AlarmOut(std::string("/event/event_pop.php?app=set&method=") + "add" + parameters, add);
}

bool CVistaIO::FireTrigger() {
    std::string reply;
    // A device whose group the recorder never learnt is served as a standard
    // one, as its channels are: an "on" that sent nothing would pass for done.
    if (mode_ == 1 || mode_ == 3 || mode_ == kNoIntParameter)
        return RequestGet_AlarmOut("/event/trigger.php?app=set&make_trigger=1", reply);
    if (mode_ == 2) return RequestGet_AlarmOut("/event/trigger.php?make_trigger=1", reply);
    return true;
}

}  // namespace dravnel
