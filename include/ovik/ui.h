// Early-bound interfaces of the user-interface support classes.
#pragma once

#include <string>

#include "ovik/export.h"
#include "ovik/unknown.h"

namespace ovik {

class OVIK_API _clsMessageString : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("96DD4FDF-3F0D-4364-BFE2-6A74A7AA80D1");
  static constexpr std::string_view kTypeName = "clsMessageString";
  virtual std::string get_IsTooLarge() = 0;
  virtual std::string get_IsTooSmall() = 0;
  virtual std::string get_IsNumberTypeMismatch() = 0;
  virtual std::string get_IsDateTypeMismatch() = 0;
  virtual std::string get_MsgAtRegistStart() = 0;
  virtual std::string get_MsgAtRegistEnd() = 0;
  virtual std::string get_MsgAtDeleteStart() = 0;
  virtual std::string get_MsgAtDeleteEnd() = 0;
  virtual std::string get_MsgAtTaskStart() = 0;
  virtual std::string get_MsgAtTaskEnd() = 0;
  virtual std::string get_MsgAtQuit() = 0;
  virtual std::string get_MsgAtMasterNotFound() = 0;
  virtual std::string get_MsgOrderEndQuestion() = 0;
  virtual std::string get_MsgOrderEndInformation() = 0;
  virtual std::string get_MsgAllDeleteQuestion() = 0;
  virtual std::string get_MsgOrderTaniNo() = 0;
  virtual std::string get_MsgDeleteQuestion() = 0;
  virtual std::string get_MsgDataNo() = 0;
  virtual std::string get_MsgCommit() = 0;
  virtual std::string get_MsgCommitInformation() = 0;
  virtual std::string get_MsgCommitNo() = 0;
  virtual std::string get_MsgCommitErrorInformation() = 0;
  virtual std::string get_MsgDeliveryDateUpdateNo() = 0;
  virtual std::string get_MsgCommitEosNo() = 0;
  virtual std::string get_MsgOrderStop() = 0;
  virtual std::string get_MsgPrintQuestion() = 0;
  virtual std::string get_MsgIniFileSettingNo() = 0;
  virtual std::string get_MsgPrintEnd() = 0;
  virtual std::string get_MsgIsWrongInput() = 0;
  virtual std::string get_MsgIsCanNotParmitNull() = 0;
  virtual std::string get_MsgIsMasterNotFound() = 0;
};

}  // namespace ovik
