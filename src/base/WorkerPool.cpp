#include "base/WorkerPool.h"

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

namespace {

boost::asio::thread_pool& Pool() {
    // Intentionally never destroyed: a worker still running at exit (a long download) must not
    // be joined by a static destructor after main has returned.
    static auto* pool = new boost::asio::thread_pool(4);
    return *pool;
}

}  // namespace

void QueueWorkerTask(std::function<void()> task) {
    boost::asio::post(Pool(), std::move(task));
}
