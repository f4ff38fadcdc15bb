// The update module (mender/tesvar-livepatch) run by hand in the guest, as
// the update client runs it: a state name and a work directory laid out as
// the client lays it out (header/artifact_name, header/meta-data, files/,
// tmp/).
#pragma once

namespace guest {

// Installs and commits an artifact of triple_a, then installs one of
// triple_b that replaces it and rolls that back (triple_a comes back from
// the kept copy).
void update_module_install_rollback_commit();

}  // namespace guest
