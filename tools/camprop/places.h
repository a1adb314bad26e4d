// Where camprop finds what it works on: the system's own places, or the
// same places under the directory given with --root, as systemctl --root
// and systemd-sysctl --root take it, so that an image being built can be
// inspected and prepared offline, and tests run on a directory of their
// own. A --root run never touches the machine's own /run.
//
// Thread-safety: a plain value. Intentionally copyable.
#ifndef TOOLS_CAMPROP_PLACES_H_
#define TOOLS_CAMPROP_PLACES_H_

#include <string>

namespace camprop {

struct Places {
  // The places under `root`; "" for the system's own.
  explicit Places(std::string root) {
    while (!root.empty() && root.back() == '/') root.pop_back();
    run = root + "/run";
    store_dir = run + "/camera";
    stored_defaults = store_dir + "/persist_defaults";
    forgotten = store_dir + "/persist_forgotten";
    defaults_dir = root + "/etc/camera/properties.d";
    saved = root + "/var/lib/camera/persist.properties";
  }

  std::string run;              // ROOT/run, watched for the store's directory
  std::string store_dir;        // ROOT/run/camera, the store's directory
  std::string stored_defaults;  // ROOT/run/camera/persist_defaults (unowned_values.h)
  std::string forgotten;        // ROOT/run/camera/persist_forgotten (unowned_values.h)
  std::string defaults_dir;     // ROOT/etc/camera/properties.d
  std::string saved;            // ROOT/var/lib/camera/persist.properties
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_PLACES_H_
