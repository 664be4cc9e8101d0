#pragma once

#include <stdexcept>

namespace tarnwell {

// A broken precondition that ordinary use cannot reach. The binding turns it into its
// own exception type at the module boundary.
class InternalFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace tarnwell
