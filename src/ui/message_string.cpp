// The application's standard Japanese message texts, worded in one place. Each property returns
// its fixed text; there is no state and nothing can fail.
#include "ovik/describe.h"
#include "ovik/object.h"
#include "ovik/component.h"
#include "ovik/ui.h"

namespace ovik {

namespace {

class clsMessageString final : public Object<clsMessageString, _clsMessageString> {
 public:
  static const TypeInfo& type_info();
  std::string get_IsTooLarge() override { return "は大きすぎます。"; }
  std::string get_IsTooSmall() override { return "は小さすぎます。"; }
  std::string get_IsNumberTypeMismatch() override { return "は数値を入力してください。"; }
  std::string get_IsDateTypeMismatch() override { return "は日付を入力してください。"; }
  std::string get_MsgAtRegistStart() override { return "登録します。"; }
  std::string get_MsgAtRegistEnd() override { return "登録しました。"; }
  std::string get_MsgAtDeleteStart() override { return "削除します。"; }
  std::string get_MsgAtDeleteEnd() override { return "削除しました。"; }
  std::string get_MsgAtTaskStart() override { return "処理を開始します。"; }
  std::string get_MsgAtTaskEnd() override { return "処理を終了しました。"; }
  std::string get_MsgAtQuit() override { return "終了します。"; }
  std::string get_MsgAtMasterNotFound() override { return "が存在しません。"; }
  std::string get_MsgOrderEndQuestion() override { return "発注完了の登録を行いますか？"; }
  std::string get_MsgOrderEndInformation() override { return "完了情報が登録されました。"; }
  std::string get_MsgAllDeleteQuestion() override { return "全て削除してもよろしいですか？"; }
  std::string get_MsgOrderTaniNo() override { return "発注単位の倍数ではありません｡"; }
  std::string get_MsgDeleteQuestion() override { return "削除してよろしいですか？"; }
  std::string get_MsgDataNo() override { return "対象データはありません。"; }
  std::string get_MsgCommit() override { return "確定します。"; }
  std::string get_MsgCommitInformation() override { return "確定しました。"; }
  std::string get_MsgCommitNo() override { return "確定できませんでした。"; }
  std::string get_MsgCommitErrorInformation() override { return "エラーがあります。これらは発注できません。\r\n\r\n続行してよろしいですか？　（修正する場合はキャンセル）"; }
  std::string get_MsgDeliveryDateUpdateNo() override { return "納品指定日が更新できませんでした。"; }
  std::string get_MsgCommitEosNo() override { return "現在、本社更新中です。送信できません。\r\nしばらくたってから再度送信してください。\r\n送信されたデータは次回の発注更新対象となります。"; }
  std::string get_MsgOrderStop() override { return "この商品は発注停止となっています。"; }
  std::string get_MsgPrintQuestion() override { return "発行準備はよろしいですか？"; }
  std::string get_MsgIniFileSettingNo() override { return "Iniファイルが設定されていません。"; }
  std::string get_MsgPrintEnd() override { return "発行が終了しました。"; }
  std::string get_MsgIsWrongInput() override { return "が無効です。"; }
  std::string get_MsgIsCanNotParmitNull() override { return "は必須入力です。"; }
  std::string get_MsgIsMasterNotFound() override { return "マスタに登録されていません"; }
};

const TypeInfo& clsMessageString::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsMessageString>("clsMessageString", Guid::of("3A432499-F190-4992-977B-BE087C050D53"),
                                                Instancing::Creatable, 3);
    t.create = [] { return Ref<IDispatch>(make_object<clsMessageString>()); };
    Describe<_clsMessageString> d(t);
    d.get("IsTooLarge", &_clsMessageString::get_IsTooLarge);
    d.get("IsTooSmall", &_clsMessageString::get_IsTooSmall);
    d.get("IsNumberTypeMismatch", &_clsMessageString::get_IsNumberTypeMismatch);
    d.get("IsDateTypeMismatch", &_clsMessageString::get_IsDateTypeMismatch);
    d.get("MsgAtRegistStart", &_clsMessageString::get_MsgAtRegistStart);
    d.get("MsgAtRegistEnd", &_clsMessageString::get_MsgAtRegistEnd);
    d.get("MsgAtDeleteStart", &_clsMessageString::get_MsgAtDeleteStart);
    d.get("MsgAtDeleteEnd", &_clsMessageString::get_MsgAtDeleteEnd);
    d.get("MsgAtTaskStart", &_clsMessageString::get_MsgAtTaskStart);
    d.get("MsgAtTaskEnd", &_clsMessageString::get_MsgAtTaskEnd);
    d.get("MsgAtQuit", &_clsMessageString::get_MsgAtQuit);
    d.get("MsgAtMasterNotFound", &_clsMessageString::get_MsgAtMasterNotFound);
    d.get("MsgOrderEndQuestion", &_clsMessageString::get_MsgOrderEndQuestion);
    d.get("MsgOrderEndInformation", &_clsMessageString::get_MsgOrderEndInformation);
    d.get("MsgAllDeleteQuestion", &_clsMessageString::get_MsgAllDeleteQuestion);
    d.get("MsgOrderTaniNo", &_clsMessageString::get_MsgOrderTaniNo);
    d.get("MsgDeleteQuestion", &_clsMessageString::get_MsgDeleteQuestion);
    d.get("MsgDataNo", &_clsMessageString::get_MsgDataNo);
    d.get("MsgCommit", &_clsMessageString::get_MsgCommit);
    d.get("MsgCommitInformation", &_clsMessageString::get_MsgCommitInformation);
    d.get("MsgCommitNo", &_clsMessageString::get_MsgCommitNo);
    d.get("MsgCommitErrorInformation", &_clsMessageString::get_MsgCommitErrorInformation);
    d.get("MsgDeliveryDateUpdateNo", &_clsMessageString::get_MsgDeliveryDateUpdateNo);
    d.get("MsgCommitEosNo", &_clsMessageString::get_MsgCommitEosNo);
    d.get("MsgOrderStop", &_clsMessageString::get_MsgOrderStop);
    d.get("MsgPrintQuestion", &_clsMessageString::get_MsgPrintQuestion);
    d.get("MsgIniFileSettingNo", &_clsMessageString::get_MsgIniFileSettingNo);
    d.get("MsgPrintEnd", &_clsMessageString::get_MsgPrintEnd);
    d.get("MsgIsWrongInput", &_clsMessageString::get_MsgIsWrongInput);
    d.get("MsgIsCanNotParmitNull", &_clsMessageString::get_MsgIsCanNotParmitNull);
    d.get("MsgIsMasterNotFound", &_clsMessageString::get_MsgIsMasterNotFound);
    return t;
  }();
  return info;
}

const ClassRegistration kRegistration(&clsMessageString::type_info);

}  // namespace

}  // namespace ovik
