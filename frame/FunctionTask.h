// A task of the library's thread pool that runs a function, so that the tool's work shares the threads that
// --threads bounds.
#pragma once

#include <IlmThreadPool.h>

#include <functional>
#include <utility>

class FunctionTask : public IlmThread::Task
{
public:
    FunctionTask(IlmThread::TaskGroup* group, std::function<void()> work)
        : IlmThread::Task(group), m_work(std::move(work))
    {
    }
    void execute() override { m_work(); }

private:
    std::function<void()> m_work;
};
