#include "reports/member_role.h"

#include "platform/utf_text.h"

bool RoleOf(const Resource& m, PayloadMember& member, PayloadType& type) {
  return m.type.named && ParsePayloadType(m.type.name(), type) &&
         MemberOfName(TerminatedName(m.name), member);
}
