#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Which part of a run this seekprobe takes when a corpus is split over the machines of a cluster:
// the K-th (from 0) of N parts of the sorted list of clips, clip i going to part i mod N, so every
// clip is in exactly one part, the same on every machine, and long runs of alike clips (one folder
// of big files) spread over the parts. K and N come from --shard K/N; else from a Kubernetes
// Indexed Job (JOB_COMPLETION_INDEX, with --shard-count N); else from a Slurm job array
// (SLURM_ARRAY_TASK_ID less SLURM_ARRAY_TASK_MIN, in steps of SLURM_ARRAY_TASK_STEP, of
// SLURM_ARRAY_TASK_COUNT); else the whole run is part 0 of 1.
//
// A plain value; no threads.
struct ShardPlan {
    int index = 0;
    int count = 1;
    QString source;   // where K and N came from: "--shard", "Kubernetes", "Slurm" or "" (the whole run)

    // shard: the --shard value (empty: not given); shardCount: --shard-count (0: not given); env:
    // the environment. False, with the reason in error, for values that name no part.
    static bool resolve(const QString &shard, int shardCount, const QHash<QString, QString> &env, ShardPlan &plan,
                        QString &error);

    // The clips of this part, sorted.
    QStringList pick(QStringList clips) const;
    // "part-0001-of-0004" for --shard 1/4: the stem of the part's files.
    QString name() const;
};
