#pragma once
// How a settings form's write ended, so the CLI can tell a refusal from a failed reply.

enum class WriteOutcome {
    Refused,  // a field failed its check; nothing was sent
    Failed,   // sent, but the echo or the read-back did not pass
    Done,     // sent, and the echo or the read-back passed
};
