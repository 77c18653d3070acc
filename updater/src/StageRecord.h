// The updater's resumable state: one stage file per package in the hidden
// update directory, holding the last completed stage (32-bit little-endian),
// always written whole and durably; and the one rule that says what a run
// does after a recorded stage, which the updater and KWPack's check share.
#pragma once

#include "Env.h"
#include "UpdateListener.h"

namespace kw {
namespace updater {

// What a run does after the stage `recorded`: unknown values stop it
// ("unknown stage") before anything changes; otherwise the stages from
// `first_stage` run, then the clean-up. A recorded stage 4 means the
// installation is updated and only the clean-up is left (first stage 5).
struct ResumePlan {
    bool known;
    int first_stage;
};
ResumePlan PlanResume(int recorded);

// Creates the hidden update directory when it is missing; true when this
// run created it (another run may create it at the same moment).
bool CreateUpdateDir(Env& env, const Path& update_dir);
// The last completed stage; creates the hidden update directory (returning
// 0) when it is missing.
int CheckStage(Env& env, const Path& update_dir, const Path& stage_file);
// One run at a time in an installation: a lock in the update directory
// (which must exist), held until the object goes or the process ends.
// Raises "another update is running in this installation" while another
// process holds it.
std::unique_ptr<FileLock> LockUpdateDir(Env& env, const Path& update_dir);
// The stored stage; a missing file is created holding 0, written whole and
// durably as FinishStage writes it.
int ReadStage(Env& env, const Path& stage_file);
// Records `stage` as completed and announces it.
void FinishStage(const Context& context, const Path& stage_file, int stage);

// Puts what a stage wrote (a file, or a tree) on stable storage before the
// stage is recorded: the clean-up deletes the backups, so nothing may depend
// on data still in memory.
void FlushWork(Env& env, const Path& written);

// Clean-up after the last stage: the record goes (durably), then the update
// directory when no package has working files left in it.
void RemoveStage(Env& env, const Path& update_dir, const Path& stage_file);
void RemoveUpdateDirIfEmpty(Env& env, const Path& update_dir);

} // namespace updater
} // namespace kw
