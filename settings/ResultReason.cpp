#include "settings/ResultReason.h"

#include "settings/AddressPlanner.h"
#include "settings/ChangeConfirmation.h"

namespace qdipc {

std::string ResultReasonText(ResultReason reason, std::string_view detail) {
    switch (reason) {
        case ResultReason::None:
            return {};
        case ResultReason::NotFound:
            return "did not answer the search";
        case ResultReason::BreaksRule:
        case ResultReason::Evidence:
            return std::string(detail);
        case ResultReason::CameraBusy:
            return "a change for this camera is still waiting in another run";
        case ResultReason::NamedTwice:
            return "another change for this camera is in the same run";
        case ResultReason::AddressInOtherRun:
            return std::string(detail) + " is planned for another camera in another run";
        case ResultReason::SendFailed:
        case ResultReason::Stopped:
            return "not sent: " + NotSentWhy(reason, detail);
        case ResultReason::Unverifiable:
            return kUnverifiableText;
        case ResultReason::AddressAnswered:
            return std::string(detail) + " is taken: " + SkipReasonText(SkipReason::Answered) +
                   " just before sending";
        case ResultReason::NoWait:
            return "sent, not confirmed (no wait was asked)";
    }
    return {};
}

std::string NotSentWhy(ResultReason reason, std::string_view detail) {
    if (reason == ResultReason::Stopped) {
        return "the run was stopped";
    }
    return detail.empty() ? std::string("the send failed") : std::string(detail);
}

bool ReasonNotSent(ResultReason reason) {
    return reason == ResultReason::SendFailed || reason == ResultReason::Stopped;
}

}  // namespace qdipc
