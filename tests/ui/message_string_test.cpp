#include <gtest/gtest.h>

#include "ovik/component.h"
#include "ovik/ui.h"

namespace ovik {
namespace {

struct Text {
  const char* property;
  const char* text;
  std::size_t code_points;
};

// Written with escapes where a neighbour character looks alike, so the table itself cannot drift.
const Text kTexts[] = {
    {"IsTooLarge", "\u306F\u5927\u304D\u3059\u304E\u307E\u3059\u3002", 8},
    {"IsTooSmall", "\u306F\u5C0F\u3055\u3059\u304E\u307E\u3059\u3002", 8},
    {"IsNumberTypeMismatch", "\u306F\u6570\u5024\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055\u3044\u3002", 13},
    {"IsDateTypeMismatch", "\u306F\u65E5\u4ED8\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055\u3044\u3002", 13},
    {"MsgAtRegistStart", "\u767B\u9332\u3057\u307E\u3059\u3002", 6},
    {"MsgAtRegistEnd", "\u767B\u9332\u3057\u307E\u3057\u305F\u3002", 7},
    {"MsgAtDeleteStart", "\u524A\u9664\u3057\u307E\u3059\u3002", 6},
    {"MsgAtDeleteEnd", "\u524A\u9664\u3057\u307E\u3057\u305F\u3002", 7},
    {"MsgAtTaskStart", "\u51E6\u7406\u3092\u958B\u59CB\u3057\u307E\u3059\u3002", 9},
    {"MsgAtTaskEnd", "\u51E6\u7406\u3092\u7D42\u4E86\u3057\u307E\u3057\u305F\u3002", 10},
    {"MsgAtQuit", "\u7D42\u4E86\u3057\u307E\u3059\u3002", 6},
    {"MsgAtMasterNotFound", "\u304C\u5B58\u5728\u3057\u307E\u305B\u3093\u3002", 8},
    {"MsgOrderEndQuestion", "\u767A\u6CE8\u5B8C\u4E86\u306E\u767B\u9332\u3092\u884C\u3044\u307E\u3059\u304B\uFF1F", 14},
    {"MsgOrderEndInformation", "\u5B8C\u4E86\u60C5\u5831\u304C\u767B\u9332\u3055\u308C\u307E\u3057\u305F\u3002", 13},
    {"MsgAllDeleteQuestion", "\u5168\u3066\u524A\u9664\u3057\u3066\u3082\u3088\u308D\u3057\u3044\u3067\u3059\u304B\uFF1F", 15},
    {"MsgOrderTaniNo", "\u767A\u6CE8\u5358\u4F4D\u306E\u500D\u6570\u3067\u306F\u3042\u308A\u307E\u305B\u3093\uFF61", 15},
    {"MsgDeleteQuestion", "\u524A\u9664\u3057\u3066\u3088\u308D\u3057\u3044\u3067\u3059\u304B\uFF1F", 12},
    {"MsgDataNo", "\u5BFE\u8C61\u30C7\u30FC\u30BF\u306F\u3042\u308A\u307E\u305B\u3093\u3002", 12},
    {"MsgCommit", "\u78BA\u5B9A\u3057\u307E\u3059\u3002", 6},
    {"MsgCommitInformation", "\u78BA\u5B9A\u3057\u307E\u3057\u305F\u3002", 7},
    {"MsgCommitNo", "\u78BA\u5B9A\u3067\u304D\u307E\u305B\u3093\u3067\u3057\u305F\u3002", 11},
    {"MsgCommitErrorInformation", "\u30A8\u30E9\u30FC\u304C\u3042\u308A\u307E\u3059\u3002\u3053\u308C\u3089\u306F\u767A\u6CE8\u3067\u304D\u307E\u305B\u3093\u3002\r\n\r\n\u7D9A\u884C\u3057\u3066\u3088\u308D\u3057\u3044\u3067\u3059\u304B\uFF1F\u3000\uFF08\u4FEE\u6B63\u3059\u308B\u5834\u5408\u306F\u30AD\u30E3\u30F3\u30BB\u30EB\uFF09", 52},
    {"MsgDeliveryDateUpdateNo", "\u7D0D\u54C1\u6307\u5B9A\u65E5\u304C\u66F4\u65B0\u3067\u304D\u307E\u305B\u3093\u3067\u3057\u305F\u3002", 17},
    {"MsgCommitEosNo", "\u73FE\u5728\u3001\u672C\u793E\u66F4\u65B0\u4E2D\u3067\u3059\u3002\u9001\u4FE1\u3067\u304D\u307E\u305B\u3093\u3002\r\n\u3057\u3070\u3089\u304F\u305F\u3063\u3066\u304B\u3089\u518D\u5EA6\u9001\u4FE1\u3057\u3066\u304F\u3060\u3055\u3044\u3002\r\n\u9001\u4FE1\u3055\u308C\u305F\u30C7\u30FC\u30BF\u306F\u6B21\u56DE\u306E\u767A\u6CE8\u66F4\u65B0\u5BFE\u8C61\u3068\u306A\u308A\u307E\u3059\u3002", 67},
    {"MsgOrderStop", "\u3053\u306E\u5546\u54C1\u306F\u767A\u6CE8\u505C\u6B62\u3068\u306A\u3063\u3066\u3044\u307E\u3059\u3002", 17},
    {"MsgPrintQuestion", "\u767A\u884C\u6E96\u5099\u306F\u3088\u308D\u3057\u3044\u3067\u3059\u304B\uFF1F", 13},
    {"MsgIniFileSettingNo", "Ini\u30D5\u30A1\u30A4\u30EB\u304C\u8A2D\u5B9A\u3055\u308C\u3066\u3044\u307E\u305B\u3093\u3002", 18},
    {"MsgPrintEnd", "\u767A\u884C\u304C\u7D42\u4E86\u3057\u307E\u3057\u305F\u3002", 10},
    {"MsgIsWrongInput", "\u304C\u7121\u52B9\u3067\u3059\u3002", 6},
    {"MsgIsCanNotParmitNull", "\u306F\u5FC5\u9808\u5165\u529B\u3067\u3059\u3002", 8},
    {"MsgIsMasterNotFound", "\u30DE\u30B9\u30BF\u306B\u767B\u9332\u3055\u308C\u3066\u3044\u307E\u305B\u3093", 13},
};

std::size_t code_points(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

TEST(MessageString, EveryTextByNameIsExact) {
  Ref<IDispatch> messages = create_object("OvikEnvironment.clsMessageString");
  for (const Text& t : kTexts) {
    SCOPED_TRACE(t.property);
    std::int32_t id = messages->GetIDOfName(t.property);
    ASSERT_NE(id, kDispidUnknown);
    std::string value = messages->Invoke(id, InvokeKind::PropertyGet, {}).to_string();
    EXPECT_EQ(value, t.text);
    EXPECT_EQ(code_points(value), t.code_points);
    // Line breaks are always CR LF pairs.
    for (std::size_t i = 0; i < value.size(); ++i)
      if (value[i] == '\n') {
        EXPECT_TRUE(i > 0 && value[i - 1] == '\r');
      }
  }
}

TEST(MessageString, EarlyBoundSlotsMatchTheTable) {
  Ref<_clsMessageString> messages = create<_clsMessageString>("OvikEnvironment.clsMessageString");
  EXPECT_EQ(messages->get_IsTooLarge(), kTexts[0].text);
  EXPECT_EQ(messages->get_MsgOrderTaniNo(), kTexts[15].text);
  EXPECT_EQ(messages->get_MsgCommitErrorInformation(), kTexts[21].text);
  EXPECT_EQ(messages->get_MsgIsMasterNotFound(), kTexts[30].text);
  // The description lists the 31 members in the same order as the vtable.
  const TypeInfo& info = messages->GetTypeInfo();
  ASSERT_EQ(info.members.size(), std::size(kTexts));
  for (std::size_t i = 0; i < info.members.size(); ++i) EXPECT_EQ(info.members[i].name, kTexts[i].property);
}

}  // namespace
}  // namespace ovik
