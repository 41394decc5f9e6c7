#include "download/transfer_job.h"

// Placeholder until the download code lands: a job that never starts.
namespace tarvik::download {
struct TransferJob::State {};
TransferJob::TransferJob(std::string, std::filesystem::path, TransferLimits, Post)
    : state_(std::make_unique<State>()) {}
TransferJob::~TransferJob() = default;
bool TransferJob::Start() { return false; }
ProgressFigures TransferJob::TakeProgress() { return {}; }
} // namespace tarvik::download
