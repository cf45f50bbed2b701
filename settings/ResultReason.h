#pragma once
// Why a camera of a settings run (a window Modify, an Assign dialog, the
// command line's --modify, --assign and --plan) ended as it did: one code per
// cause, and its words. The window and the command line show the words and
// decide by the code, never by the words.

#include <string>
#include <string_view>

namespace qdipc {

enum class ResultReason {
    None,               // planned, or sent and waiting for the camera
    NotFound,           // the camera did not answer the search
    BreaksRule,         // the record breaks a settings rule; the detail is the rule's reason
    CameraBusy,         // a change for this camera is still waiting in another run
    NamedTwice,         // an earlier order of the same run is for the same camera
    AddressInOtherRun,  // the new IP (the detail) is planned for a camera of another run
    SendFailed,         // not sent; the detail is why ("" when nobody said)
    Stopped,            // not sent: the run was stopped first
    NoWait,             // sent; nobody waits for the camera's evidence
    Evidence,           // what the camera's answers showed; the detail is the sentence
    Unverifiable,       // sent, but the camera already reported these settings
    AddressAnswered,    // not sent: the new IP (the detail) answered just before sending
};

// The words shown for a reason with its detail (see ResultReason).
std::string ResultReasonText(ResultReason reason, std::string_view detail = {});

// The record did not leave (SendFailed, Stopped).
bool ReasonNotSent(ResultReason reason);
// Why it did not leave, without "not sent: " ("the run was stopped").
std::string NotSentWhy(ResultReason reason, std::string_view detail);

}  // namespace qdipc
