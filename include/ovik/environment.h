// Early-bound interfaces of the settings classes: clsIniFile, clsConnectString.
// Properties are get_X / put_X; methods keep their names. Members stand in slot order.
#pragma once

#include <string>

#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik {

class _clsIniFile : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("62400465-D719-45EB-944B-C5366CFB595A");
  static constexpr std::string_view kTypeName = "clsIniFile";
  virtual std::string get_FileName() = 0;
  virtual void put_FileName(std::string value) = 0;
  virtual std::string get_Path() = 0;
  virtual void put_Path(std::string value) = 0;
  // Raises 60000 (source "clsIniFile") when the setting is not found.
  virtual std::string GetIni(std::string& Section, std::string& Entry) = 0;
  // "0" when the write failed; never raises for a failed write.
  virtual std::string PutIni(std::string& Section, std::string& Entry, std::string& EntryString) = 0;
};

class _clsConnectString : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("162EE3C4-FB65-47E2-BD8C-FE9F6E0D8F29");
  static constexpr std::string_view kTypeName = "clsConnectString";
  virtual void Init() = 0;
  virtual void SetProvider(std::string strValue) = 0;
  virtual void SetServer(std::string strValue) = 0;
  virtual void SetUser(std::string strValue) = 0;
  virtual void SetPassword(std::string strValue) = 0;
  virtual void SetInitialDatabase(std::string strValue) = 0;
  // Raises -1 (source "clsConnectString") naming the first item not yet set.
  virtual std::string GetValue() = 0;
};

}  // namespace ovik
