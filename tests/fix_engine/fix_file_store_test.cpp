// The message store's file list: a file store names its four files in a fixed order, a
// memory store (and the session's own state) names none, and a caller can remove the
// files the way the gateway's FIX front end does. The four files are their owner's only,
// a message the disk refuses leaves nothing of itself in them, and a store that cannot be
// made names the file and the system's error.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <memory>

#include "FileStore.h"
#include "MessageStore.h"
#include "SessionState.h"
#include "fix_engine/fix_engine_test_support.h"
#include "support/full_disk.h"

namespace
{

const FIX::SessionID kSession("FIX.4.2", "GATEWAY", "CLIENT");

// What the gateway's removal does with a store: copy the names, delete the list, delete
// the store, remove each file.
void removeStoreFiles(FIX::MessageStore *store)
{
    std::vector<std::string> names;
    std::vector<std::string *> *list = store->getFileNames();
    if (list != nullptr)
    {
        for (std::string *name : *list)
            names.push_back(*name);
        delete list;
    }
    delete store;
    for (const std::string &name : names)
        ::remove(name.c_str());
}

TEST(FileStore, NamesItsFourFilesInOrder)
{
    fix_test::TempFolder folder;
    const std::string path = folder.file("store");
    FIX::FileStore store(path, kSession);

    std::unique_ptr<std::vector<std::string *>> names(store.getFileNames());
    ASSERT_NE(nullptr, names);
    const char *suffixes[] = {"body", "header", "seqnums", "session"};
    ASSERT_EQ(4u, names->size());
    for (size_t i = 0; i < 4; i++)
    {
        EXPECT_EQ(path + "/FIX.4.2-GATEWAY-CLIENT." + suffixes[i], *(*names)[i]);
        EXPECT_TRUE(fix_test::fileExists(*(*names)[i])) << *(*names)[i];
    }

    // Each call a new list, with the same strings of the store.
    std::unique_ptr<std::vector<std::string *>> again(store.getFileNames());
    EXPECT_NE(names.get(), again.get());
    EXPECT_EQ(*names, *again);
}

// Whatever the umask, the four files are created for their owner only, again when a
// reset makes them anew; what is stored reads back as it was written.
TEST(FileStore, FilesAreCreatedForTheirOwnerOnly)
{
    for (mode_t mask : {mode_t(022), mode_t(0277), mode_t(0)})
    {
        SCOPED_TRACE("umask " + std::to_string(mask));
        fix_test::TempFolder folder;
        const std::string path = folder.file("store");
        ASSERT_EQ(0, mkdir(path.c_str(), 0700));
        fix_test::ScopedUmask umask(mask);
        FIX::FileStore store(path, kSession);
        const std::string message = "8=FIX.4.2\x01"
                                    "35=8\x01";
        ASSERT_TRUE(store.set(1, message));
        store.setNextSenderMsgSeqNum(2);
        std::unique_ptr<std::vector<std::string *>> names(store.getFileNames());
        for (const std::string *name : *names)
            EXPECT_EQ(0600, fix_test::fileMode(*name)) << *name;
        std::vector<std::string> stored;
        store.get(1, 1, stored);
        EXPECT_EQ(std::vector<std::string>{message}, stored);

        store.reset();
        for (const std::string *name : *names)
            EXPECT_EQ(0600, fix_test::fileMode(*name)) << "after the reset: " << *name;
    }
}

long fileSize(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

// A disk that takes a part of a message and then refuses the rest (a file size cap just
// past the body's end): the refused message is taken back whole, so that neither its part
// nor its index entry is read back, now or by a store opened anew on the files; and once
// the disk has room the store takes the next message as if nothing had failed.
TEST(FileStore, AMessageTheDiskRefusesLeavesNothingBehindAndTheNextIsTaken)
{
    fix_test::TempFolder folder;
    const std::string path = folder.file("store");
    const std::string first = "8=FIX.4.2\x01"
                              "35=8\x01"
                              "11=FIRST\x01" +
                              std::string(100, 'y') + "\x01";
    const std::string second = "8=FIX.4.2\x01"
                               "35=8\x01"
                               "11=SECOND\x01" +
                               std::string(200, 'x') + "\x01";
    std::unique_ptr<FIX::FileStore> store(new FIX::FileStore(path, kSession));
    ASSERT_TRUE(store->set(1, first));
    store->setNextSenderMsgSeqNum(2);
    std::unique_ptr<std::vector<std::string *>> names(store->getFileNames());
    const std::string body = *(*names)[0];
    const std::string header = *(*names)[1];
    const long bodyBefore = fileSize(body);
    const long headerBefore = fileSize(header);
    ASSERT_GT(bodyBefore, headerBefore + 40) << "the header's next entry fits under the cap";

    std::vector<std::string> stored;
    {
        qel_test::stderr_capture quiet;
        qel_test::file_size_cap cap(static_cast<rlim_t>(bodyBefore + 16));
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            SCOPED_TRACE(attempt);
            try
            {
                store->set(2, second);
                ADD_FAILURE() << "stored past the cap";
            }
            catch (const FIX::IOException &e)
            {
                EXPECT_NE(std::string::npos, std::string(e.what()).find(body)) << e.what();
            }
            EXPECT_EQ(bodyBefore, fileSize(body)) << "the part that went out is cut off again";
            EXPECT_EQ(headerBefore, fileSize(header)) << "and its index entry with it";
            store->get(1, 2, stored);
            EXPECT_EQ(std::vector<std::string>{first}, stored);
        }
        // What fits still goes: the store was not left failing.
        store->setNextSenderMsgSeqNum(2);
        EXPECT_EQ(2, store->getNextSenderMsgSeqNum());
    }

    ASSERT_TRUE(store->set(2, second)) << "the disk has room again";
    store->setNextSenderMsgSeqNum(3);
    store->get(1, 3, stored);
    EXPECT_EQ((std::vector<std::string>{first, second}), stored);

    store.reset(new FIX::FileStore(path, kSession));
    store->get(1, 3, stored);
    EXPECT_EQ((std::vector<std::string>{first, second}), stored) << "read back as they were taken";
    EXPECT_EQ(3, store->getNextSenderMsgSeqNum());
}

// A store that cannot be made says which file failed and the system's error, so that its
// session can tell a disk or folder that refuses it from a wrong configuration: a disk
// that refuses every write fails the new session file's first write, a folder that
// cannot be made fails the first file's open (still the engine's ConfigError).
TEST(FileStore, AStoreThatCannotBeMadeNamesTheFileAndTheError)
{
    fix_test::TempFolder folder;
    const std::string plainFile = folder.file("plain");
    std::ofstream(plainFile) << "not a folder";
    {
        qel_test::stderr_capture quiet;
        qel_test::file_size_cap full(0);
        const std::string path = folder.file("store");
        try
        {
            FIX::FileStore store(path, kSession);
            ADD_FAILURE() << "made on a disk that takes nothing";
        }
        catch (const FIX::StoreWriteFailed &e)
        {
            EXPECT_EQ(path + "/FIX.4.2-GATEWAY-CLIENT.session", e.fileName);
            EXPECT_EQ(EFBIG, e.error);
            EXPECT_EQ("IO Error: Unable to write to file " + e.fileName, std::string(e.what()));
        }
    }
    try
    {
        FIX::FileStore store(plainFile + "/store", kSession);
        ADD_FAILURE() << "made under a file";
    }
    catch (const FIX::ConfigError &e)
    {
        const FIX::StoreOpenFailed *failed = dynamic_cast<const FIX::StoreOpenFailed *>(&e);
        ASSERT_NE(nullptr, failed) << e.what();
        EXPECT_EQ(plainFile + "/store/FIX.4.2-GATEWAY-CLIENT.body", failed->fileName);
        EXPECT_EQ(ENOTDIR, failed->error);
        EXPECT_EQ("Configuration failed: Could not open body file: " + failed->fileName,
                  std::string(e.what()));
    }
}

TEST(FileStore, StoresWithoutFilesAnswerNull)
{
    FIX::MemoryStore memory;
    FIX::SessionState state; // the session's own store forwards no file list
    EXPECT_EQ(nullptr, memory.getFileNames());
    EXPECT_EQ(nullptr, state.getFileNames());
}

TEST(FileStore, RemovalThroughTheListLeavesNoFile)
{
    fix_test::TempFolder folder;
    FIX::FileStoreFactory factory(folder.path());
    FIX::MessageStore *store = factory.create(kSession);
    store->set(1, "8=FIX.4.2\x01"
                  "35=0\x01");
    std::unique_ptr<std::vector<std::string *>> list(store->getFileNames());
    std::vector<std::string> names;
    for (std::string *name : *list)
        names.push_back(*name);

    removeStoreFiles(store);

    for (const std::string &name : names)
        EXPECT_FALSE(fix_test::fileExists(name)) << name;

    // A memory store has nothing to remove.
    removeStoreFiles(new FIX::MemoryStore);
}

} // namespace
