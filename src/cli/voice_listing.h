#pragma once

namespace kestrova::cli {

// "voices": every installed voice, as a table or as JSON, on standard output. Returns the
// exit status: losing the list is a failure.
int listVoicesCommand(bool asJson);

} // namespace kestrova::cli
