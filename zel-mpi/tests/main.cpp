// Entry point of the distributed tests: every rank runs the same tests in the same order. Rank 0
// prints GoogleTest's usual report; the other ranks print only their failed assertions, marked
// with their rank. The exit code is the worst of all ranks'.

#include <cstdio>

#include <gtest/gtest.h>

#include <mpi.h>

namespace {

class RankFailurePrinter : public ::testing::EmptyTestEventListener {
  public:
    explicit RankFailurePrinter(int rank) : rank_(rank) {
    }

    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.failed()) {
            std::printf("[rank %d] %s:%d: %s\n", rank_,
                        result.file_name() != nullptr ? result.file_name() : "?",
                        result.line_number(), result.summary());
            std::fflush(stdout);
        }
    }

  private:
    int rank_;
};

}  // namespace

int main(int argc, char** argv) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    ::testing::InitGoogleTest(&argc, argv);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank != 0) {
        ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
        delete listeners.Release(listeners.default_result_printer());
        listeners.Append(new RankFailurePrinter(rank));
    }
    const int result = RUN_ALL_TESTS();
    int worst = 0;
    MPI_Allreduce(&result, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Finalize();
    return worst;
}
