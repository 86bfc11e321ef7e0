// clsConnectString: the connection string template with five placeholders, each filled by its
// own setter; the string can be read only when all five are set.
#include <array>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/environment.h"
#include "ovik/object.h"

namespace ovik {

namespace {

constexpr char kTemplate[] =
    "Provider={$provider};Password={$password};User ID={$database_user};Initial Catalog={$database_name};"
    "Data Source={$server};Persist Security Info=True";

struct Item {
  const char* placeholder;
  const char* label;
};
// Index order decides which missing item is reported, not the order in the template.
constexpr std::array<Item, 5> kItems = {{
    {"{$provider}", "Ole Db Provider 名"},
    {"{$server}", "サーバー名"},
    {"{$database_user}", "ログインユーザー名"},
    {"{$password}", "パスワード"},
    {"{$database_name}", "初期データベース"},
}};

class clsConnectString final : public Object<clsConnectString, _clsConnectString> {
 public:
  static const TypeInfo& type_info();

  clsConnectString() { Init(); }

  void Init() override {
    value_ = kTemplate;
    set_.fill(false);
  }
  void SetProvider(std::string strValue) override { set(0, strValue); }
  void SetServer(std::string strValue) override { set(1, strValue); }
  void SetUser(std::string strValue) override { set(2, strValue); }
  void SetPassword(std::string strValue) override { set(3, strValue); }
  void SetInitialDatabase(std::string strValue) override { set(4, strValue); }

  std::string GetValue() override {
    for (std::size_t i = 0; i < kItems.size(); ++i)
      if (!set_[i]) throw RaisedError(-1, "clsConnectString", GetItemLabel(static_cast<int>(i)) + "が設定されていません");
    return value_;
  }

 private:
  static std::string GetItemLabel(int index) {
    return index >= 0 && index < static_cast<int>(kItems.size()) ? kItems[index].label : "";
  }

  void set(std::size_t index, const std::string& value) {
    // The value goes in byte for byte: settings add items this way
    // ("data/new.db;Create If Missing=True").
    const std::string placeholder = kItems[index].placeholder;
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = value_.find(placeholder, from)) != std::string::npos; from = at + placeholder.size())
      out.append(value_, from, at - from).append(value);
    value_ = out.append(value_, from, std::string::npos);
    set_[index] = true;
  }

  std::string value_;
  std::array<bool, 5> set_{};
};

const TypeInfo& clsConnectString::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsConnectString>(
        "clsConnectString", Guid::of("175A9F9C-E7EB-47F1-B7C9-1A66D817BDE8"), Instancing::Creatable, 4);
    t.create = [] { return Ref<IDispatch>(make_object<clsConnectString>()); };
    Describe<_clsConnectString>(t)
        .method("Init", &_clsConnectString::Init)
        .method("SetProvider", &_clsConnectString::SetProvider, {"strValue"})
        .method("SetServer", &_clsConnectString::SetServer, {"strValue"})
        .method("SetUser", &_clsConnectString::SetUser, {"strValue"})
        .method("SetPassword", &_clsConnectString::SetPassword, {"strValue"})
        .method("SetInitialDatabase", &_clsConnectString::SetInitialDatabase, {"strValue"})
        .method("GetValue", &_clsConnectString::GetValue);
    return t;
  }();
  return info;
}

const ClassRegistration kRegistration(&clsConnectString::type_info);

}  // namespace

}  // namespace ovik
