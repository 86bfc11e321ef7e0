// Ovik2Master: the sibling module of the master-data object. It lies beside the library and is
// found through the manifest there, or through the class registry after `ovik register`.
#include "ovik_master.h"
#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/master.h"
#include "ovik/object.h"

namespace ovik {

namespace {

constexpr const char* kLibrary = "Ovik2Master";

class OvikMaster final : public Object<OvikMaster, _OvikMaster> {
 public:
  static const TypeInfo& type_info();

  void AttachConnections(Ref<_Connection>& cnMaster, Ref<_Connection>& cnApplication) override {
    if (!cnMaster || !cnApplication) raise_runtime_error(err::kObjectNotSet);
    master_ = cnMaster;
    application_ = cnApplication;
  }
  Ref<_Connection> get_MasterConnection() override { return master_; }
  Ref<_Connection> get_ApplicationConnection() override { return application_; }
  bool get_Attached() override { return master_ && application_; }

 private:
  Ref<_Connection> master_;
  Ref<_Connection> application_;
};

const TypeInfo& OvikMaster::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_OvikMaster>("OvikMaster", Guid::of("F55435CB-12F8-4A4C-875C-A4D4056783CF"),
                                         Instancing::Creatable, 1);
    t.library = kLibrary;
    t.create = [] { return Ref<IDispatch>(make_object<OvikMaster>()); };
    Describe<_OvikMaster>(t)
        .method("AttachConnections", &_OvikMaster::AttachConnections, {in_ref("cnMaster"), in_ref("cnApplication")})
        .get("MasterConnection", &_OvikMaster::get_MasterConnection)
        .get("ApplicationConnection", &_OvikMaster::get_ApplicationConnection)
        .get("Attached", &_OvikMaster::get_Attached);
    return t;
  }();
  return info;
}

const ClassRegistration kRegistration(&OvikMaster::type_info);

}  // namespace

const TypeInfo& ovik_master_type_info() { return OvikMaster::type_info(); }

}  // namespace ovik
