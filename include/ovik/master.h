// The master-data object of the sibling module Ovik2Master ("Ovik2Master.OvikMaster"). The
// environment object creates it when it opens its databases and hands it the master and the
// application connections; clients receive it through clsSystemInfo.Master.
#pragma once

#include "ovik/data_access.h"
#include "ovik/unknown.h"

namespace ovik {

class _OvikMaster : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("89EA6AEB-5376-4881-8540-F989F218E138");
  static constexpr std::string_view kTypeName = "OvikMaster";
  // Takes the master database's connection, then the application database's. Raises 91 when
  // either is Nothing; the connections are shared, not copied.
  virtual void AttachConnections(Ref<_Connection>& cnMaster, Ref<_Connection>& cnApplication) = 0;
  virtual Ref<_Connection> get_MasterConnection() = 0;
  virtual Ref<_Connection> get_ApplicationConnection() = 0;
  virtual bool get_Attached() = 0;
};

}  // namespace ovik
