#include "command_set.h"

#include "qs71_usb_writer.h"

namespace qs71 {

namespace {

constexpr ReplyRule kReplyRules[] = {
    {kCmdInfo, QS71_E_ECHO, kNoStatusCheck},
    {kCmd31, QS71_E_ECHO, kNoStatusCheck},
    {kCmd41, QS71_E_ECHO, 0x20},
    {kCmd42, QS71_E_ECHO, 0x82},
    {kCmd44, QS71_E_ECHO, 0x20},
    {kCmd45, QS71_E_ECHO, 0x80},
    {kCmd46, kNoEchoCheck, kNoStatusCheck},
    {kCmd47, QS71_E_ECHO, 0x20},
    {kCmd60, QS71_E_ECHO_60, kNoStatusCheck},
    {kCmd62, QS71_E_ECHO_62, kNoStatusCheck},
    {kCmd64, QS71_E_ECHO_64, kNoStatusCheck},
    {kCmd66, QS71_E_ECHO_66, kNoStatusCheck},
    {kCmd68, QS71_E_ECHO_68, kNoStatusCheck},
    {kCmd6A, kNoEchoCheck, kNoStatusCheck},
    {kCmdOtpTestStart, QS71_E_ECHO, 0x02},
    {kCmdOtpTestStop, QS71_E_ECHO, 0x01},
    {kCmdGetOtpId, QS71_E_ECHO, 0x02},
    {kCmdWriteBegin, QS71_E_ECHO, 0x03},
    {kCmdWriteEnd, QS71_E_ECHO, 0x02},
    {kCmdReadBegin, QS71_E_ECHO, 0x04},
    {kCmdReadData, kNoEchoCheck, kNoStatusCheck},
    {kCmdReadEnd, QS71_E_ECHO, 0x02},
    {kCmdVerifyBegin, QS71_E_ECHO, 0x05},
    {kCmdVerifyEnd, QS71_E_ECHO, 0x02},
    {kCmdControl, QS71_E_ECHO, 0x02},
};

constexpr ReplyRule kUnchecked = {0x00, kNoEchoCheck, kNoStatusCheck};

}  // namespace

const ReplyRule& ReplyRuleFor(uint8_t command) {
  for (const ReplyRule& rule : kReplyRules) {
    if (rule.command == command) return rule;
  }
  return kUnchecked;
}

}  // namespace qs71
