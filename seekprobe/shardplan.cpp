#include "shardplan.h"

#include <climits>

namespace {

bool number(const QString &text, qint64 low, qint64 high, int &value)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok || n < low || n > high)
        return false;
    value = int(n);
    return true;
}

constexpr int kMaxParts = 1000000;

} // namespace

bool ShardPlan::resolve(const QString &shard, int shardCount, const QHash<QString, QString> &env, ShardPlan &plan,
                        QString &error)
{
    plan = ShardPlan();
    if (!shard.isEmpty()) {
        const QStringList kn = shard.split(QLatin1Char('/'));
        if (kn.size() != 2 || !number(kn.at(1), 1, kMaxParts, plan.count) || !number(kn.at(0), 0, plan.count - 1, plan.index)) {
            error = QStringLiteral("--shard takes K/N with 0 <= K < N, not \"%1\"").arg(shard);
            return false;
        }
        plan.source = QStringLiteral("--shard");
        return true;
    }
    if (shardCount > 0) {
        const QString index = env.value(QStringLiteral("JOB_COMPLETION_INDEX"));
        plan.count = shardCount;
        if (!number(index, 0, shardCount - 1, plan.index)) {
            error = index.isEmpty() ? QStringLiteral("--shard-count needs JOB_COMPLETION_INDEX (a Kubernetes Indexed Job)")
                                    : QStringLiteral("JOB_COMPLETION_INDEX %1 is not below --shard-count %2").arg(index).arg(shardCount);
            return false;
        }
        plan.source = QStringLiteral("Kubernetes");
        return true;
    }
    const QString task = env.value(QStringLiteral("SLURM_ARRAY_TASK_ID"));
    if (task.isEmpty())
        return true;
    int id = 0, min = 0, step = 1;
    const QString minText = env.value(QStringLiteral("SLURM_ARRAY_TASK_MIN"), QStringLiteral("0"));
    const QString stepText = env.value(QStringLiteral("SLURM_ARRAY_TASK_STEP"), QStringLiteral("1"));
    if (!number(task, 0, INT_MAX, id) || !number(minText, 0, id, min) || !number(stepText, 1, INT_MAX, step)
        || !number(env.value(QStringLiteral("SLURM_ARRAY_TASK_COUNT")), 1, kMaxParts, plan.count)
        || (id - min) % step != 0 || (id - min) / step >= plan.count) {
        error = QStringLiteral("the Slurm array task %1 (first %2, step %3) is not one of %4 parts")
                    .arg(task, minText, stepText, env.value(QStringLiteral("SLURM_ARRAY_TASK_COUNT")));
        return false;
    }
    plan.index = (id - min) / step;
    plan.source = QStringLiteral("Slurm");
    return true;
}

QStringList ShardPlan::pick(QStringList clips) const
{
    clips.sort();
    QStringList mine;
    for (qsizetype i = index; i < clips.size(); i += count)
        mine << clips.at(i);
    return mine;
}

QString ShardPlan::name() const
{
    return QStringLiteral("part-%1-of-%2").arg(index, 4, 10, QLatin1Char('0')).arg(count, 4, 10, QLatin1Char('0'));
}
