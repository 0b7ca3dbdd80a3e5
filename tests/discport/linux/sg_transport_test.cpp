// SG_IO requests as they are built, and how the outcome of the ioctl becomes a command result;
// the shared device handle and its open count.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <thread>

#include "linux/sg_transport.h"
#include "sg_fake_layer.h"

namespace discport::testing {
namespace {

class SgIoTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_layer.devices["/dev/sg0"];
        m_fd = m_layer.openDevice("/dev/sg0", O_RDWR);
        ASSERT_GE(m_fd, 0);
    }

    // Answers the next request with `fill`.
    void respond(std::function<void(sg_io_hdr_t&)> fill)
    {
        m_layer.devices["/dev/sg0"].respond = std::move(fill);
    }

    FakeDeviceLayer m_layer;
    int m_fd = -1;
};

TEST_F(SgIoTest, RequestWithDataToHost)
{
    uint8_t buffer[128];
    ScsiCommand command;
    command.cdb[0] = 0x12;
    command.cdb[4] = 0x80;
    command.cdbLength = 6;
    command.data = buffer;
    command.dataLength = sizeof(buffer);
    command.timeoutMs = 3000;
    respond([](sg_io_hdr_t& r) { r.resid = 128 - 36; });

    const ScsiResult result = sendSgIo(m_layer, m_fd, command);
    ASSERT_EQ(m_layer.requests.size(), 1u);
    const sg_io_hdr_t& sent = m_layer.requests[0].header;
    EXPECT_EQ(sent.interface_id, 'S');
    EXPECT_EQ(sent.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(sent.cmd_len, 6);
    EXPECT_EQ(m_layer.requests[0].cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 0x80, 0}));
    EXPECT_EQ(sent.dxfer_len, 128u);
    EXPECT_EQ(sent.dxferp, buffer);
    EXPECT_EQ(sent.mx_sb_len, 32);
    EXPECT_NE(sent.sbp, nullptr);
    EXPECT_EQ(sent.timeout, 3000u);
    EXPECT_EQ(sent.iovec_count, 0);

    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.good());
    EXPECT_EQ(result.transferred, 36u);
    EXPECT_EQ(result.senseLength, 0);
}

TEST_F(SgIoTest, RequestWithoutData)
{
    ScsiCommand command;
    command.cdbLength = 6; // TEST UNIT READY
    respond([](sg_io_hdr_t&) {});
    const ScsiResult result = sendSgIo(m_layer, m_fd, command);
    ASSERT_EQ(m_layer.requests.size(), 1u);
    EXPECT_EQ(m_layer.requests[0].header.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(m_layer.requests[0].header.dxfer_len, 0u);
    EXPECT_EQ(m_layer.requests[0].header.dxferp, nullptr);
    EXPECT_TRUE(result.good());
    EXPECT_EQ(result.transferred, 0u);
}

TEST_F(SgIoTest, CheckConditionCompletesWithItsStatusAndSense)
{
    ScsiCommand command;
    command.cdbLength = 6;
    respond([](sg_io_hdr_t& r) {
        r.status = 0x02;
        r.masked_status = 0x01;
        r.driver_status = 0x08; // DRIVER_SENSE
        r.sb_len_wr = 18;
        r.sbp[0] = 0x70;
    });
    const ScsiResult result = sendSgIo(m_layer, m_fd, command);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.status, 0x02);
    EXPECT_FALSE(result.good());
    EXPECT_EQ(result.senseLength, 18);
}

TEST_F(SgIoTest, SenseWithGoodStatusIsReported)
{
    ScsiCommand command;
    command.cdbLength = 10;
    respond([](sg_io_hdr_t& r) { r.sb_len_wr = 14; });
    const ScsiResult result = sendSgIo(m_layer, m_fd, command);
    EXPECT_TRUE(result.good());
    EXPECT_EQ(result.senseLength, 14);
}

TEST_F(SgIoTest, IoctlFailureHostAndDriverErrorsDoNotComplete)
{
    ScsiCommand command;
    command.cdbLength = 6;

    // The ioctl itself refused (a closed descriptor).
    EXPECT_FALSE(sendSgIo(m_layer, 9999, command).completed);

    respond([](sg_io_hdr_t& r) { r.host_status = 0x03; }); // DID_TIME_OUT
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).good());

    respond([](sg_io_hdr_t& r) { r.driver_status = 0x06; }); // DRIVER_TIMEOUT
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);

    respond([](sg_io_hdr_t& r) { r.driver_status = 0x08 | 0x04; }); // DRIVER_ERROR with sense
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);
}

TEST_F(SgIoTest, ResidOutsideTheBufferIsClamped)
{
    uint8_t buffer[64];
    ScsiCommand command;
    command.cdbLength = 10;
    command.data = buffer;
    command.dataLength = sizeof(buffer);
    respond([](sg_io_hdr_t& r) { r.resid = -5; });
    EXPECT_EQ(sendSgIo(m_layer, m_fd, command).transferred, 64u);
    respond([](sg_io_hdr_t& r) { r.resid = 1000; });
    EXPECT_EQ(sendSgIo(m_layer, m_fd, command).transferred, 0u);
    respond([](sg_io_hdr_t& r) { r.resid = 64; });
    EXPECT_EQ(sendSgIo(m_layer, m_fd, command).transferred, 0u);
}

TEST_F(SgIoTest, MalformedCommandsAreNotSent)
{
    ScsiCommand command; // no command block
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);
    command.cdbLength = 13;
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);
    command.cdbLength = 10;
    command.dataLength = 16; // length without a buffer
    EXPECT_FALSE(sendSgIo(m_layer, m_fd, command).completed);
    EXPECT_TRUE(m_layer.requests.empty());
}

class SharedDeviceTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_layer = std::make_shared<FakeDeviceLayer>();
        m_previous = setDeviceLayer(m_layer);
        m_layer->addSr(0);
    }
    void TearDown() override { setDeviceLayer(m_previous); }

    std::shared_ptr<FakeDeviceLayer> m_layer;
    std::shared_ptr<DeviceLayer> m_previous;
};

TEST_F(SharedDeviceTest, OneOpenWhileAnyUserHoldsIt)
{
    auto device = std::make_shared<SharedDevice>("/dev/sr0");
    auto first = device->acquire();
    ASSERT_TRUE(first);
    auto second = device->acquire();
    ASSERT_TRUE(second);
    EXPECT_EQ(device->openCount(), 2);
    ASSERT_EQ(m_layer->opens.size(), 1u);
    EXPECT_EQ(m_layer->opens[0].flags & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK);

    ScsiCommand command;
    command.cdbLength = 6;
    EXPECT_TRUE(second->execute(command).good());
    EXPECT_EQ(m_layer->requests.at(0).path, "/dev/sr0");

    first.reset();
    EXPECT_EQ(device->openCount(), 1);
    EXPECT_TRUE(m_layer->closes.empty());
    second.reset();
    EXPECT_EQ(device->openCount(), 0);
    EXPECT_EQ(m_layer->closes.size(), 1u);
    EXPECT_TRUE(m_layer->openFds.empty());

    // Opened again by the next user.
    EXPECT_TRUE(device->acquire());
    EXPECT_EQ(m_layer->opens.size(), 2u);
}

TEST_F(SharedDeviceTest, ReadOnlyWhenWritingIsRefused)
{
    m_layer->devices["/dev/sr0"].readWriteOpenError = EACCES;
    auto device = std::make_shared<SharedDevice>("/dev/sr0");
    auto handle = device->acquire();
    ASSERT_TRUE(handle);
    ASSERT_EQ(m_layer->opens.size(), 2u);
    EXPECT_EQ(m_layer->opens[0].flags & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK);
    EXPECT_EQ(m_layer->opens[1].flags & (O_ACCMODE | O_NONBLOCK), O_RDONLY | O_NONBLOCK);
}

TEST_F(SharedDeviceTest, NoPermissionIsAFailureAndLeavesNothingOpen)
{
    m_layer->devices["/dev/sr0"].openError = EACCES;
    auto device = std::make_shared<SharedDevice>("/dev/sr0");
    EXPECT_FALSE(device->acquire());
    EXPECT_FALSE(device->acquire()); // the lock was given back
    EXPECT_EQ(device->openCount(), 0);
    EXPECT_TRUE(m_layer->openFds.empty());
}

TEST_F(SharedDeviceTest, UsersOnSeveralThreadsShareOneOpen)
{
    m_layer->devices["/dev/sr0"].respond = [](sg_io_hdr_t&) {};
    auto device = std::make_shared<SharedDevice>("/dev/sr0");
    auto holder = device->acquire(); // keeps the device open across the threads
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                EXPECT_TRUE(device->acquire());
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(device->openCount(), 1);
    EXPECT_EQ(m_layer->opens.size(), 1u);
}

} // namespace
} // namespace discport::testing
