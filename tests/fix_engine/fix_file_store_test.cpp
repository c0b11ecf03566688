// The message store's file list: a file store names its four files in a fixed order, a
// memory store (and the session's own state) names none, and a caller can remove the
// files the way the gateway's FIX front end does. The four files are their owner's only.
#include <gtest/gtest.h>

#include <memory>

#include "FileStore.h"
#include "MessageStore.h"
#include "SessionState.h"
#include "fix_engine/fix_engine_test_support.h"

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
