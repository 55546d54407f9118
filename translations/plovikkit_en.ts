<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AccountLogin</name>
    <message>
        <source>未登录</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>账户</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>记住密码</source>
        <translation>Remember password</translation>
    </message>
    <message>
        <source>更新密码</source>
        <translation>Change password</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>退出登录</source>
        <translation>Log out</translation>
    </message>
    <message>
        <source>账号：</source>
        <translation>Account:</translation>
    </message>
    <message>
        <source>密码：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>登录出错了，请联系管理员<byte value="xd"/>
code：404<byte value="xd"/>
message：数据出错</source>
        <translation>Login failed, please contact the administrator<byte value="xd"/>
code: 404<byte value="xd"/>
message: bad data</translation>
    </message>
    <message>
        <source>登录出错了，请联系管理员<byte value="xd"/>
code：5001<byte value="xd"/>
message：数据出错</source>
        <translation>Login failed, please contact the administrator<byte value="xd"/>
code: 5001<byte value="xd"/>
message: bad data</translation>
    </message>
    <message>
        <source>登录出错了，请联系管理员<byte value="xd"/>
code：4000<byte value="xd"/>
message：用户权限不足</source>
        <translation>Login failed, please contact the administrator<byte value="xd"/>
code: 4000<byte value="xd"/>
message: insufficient rights</translation>
    </message>
    <message>
        <source>登录出错了，请联系管理员<byte value="xd"/>
code：%1<byte value="xd"/>
message：%2</source>
        <translation>Login failed, please contact the administrator<byte value="xd"/>
code: %1<byte value="xd"/>
message: %2</translation>
    </message>
    <message>
        <source>登录成功</source>
        <translation>Logged in</translation>
    </message>
    <message>
        <source>出错了，请先登录</source>
        <translation>Failed: please log in first</translation>
    </message>
    <message>
        <source>出错了，请联系管理员<byte value="xd"/>
code：%1<byte value="xd"/>
message：%2</source>
        <translation>Failed, please contact the administrator<byte value="xd"/>
code: %1<byte value="xd"/>
message: %2</translation>
    </message>
    <message>
        <source>数据出错</source>
        <translation>bad data</translation>
    </message>
    <message>
        <source>更新成功</source>
        <translation>Password changed</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
</context>
<context>
    <name>BatchUpdatePage</name>
    <message>
        <source>网关ID</source>
        <translation>Gateway ID</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>载入MQTT网关列表</source>
        <translation>Load MQTT gateways</translation>
    </message>
    <message>
        <source>移除未选</source>
        <translation>Remove unticked</translation>
    </message>
    <message>
        <source>同时更新</source>
        <translation>In parallel</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>跳过记录中已成功更新为同一固件的网关</source>
        <translation>Skip the gateways the records show as already updated to this firmware</translation>
    </message>
    <message>
        <source>跳过已完成</source>
        <translation>Skip done</translation>
    </message>
    <message>
        <source>重试运行</source>
        <translation>Retry run</translation>
    </message>
    <message>
        <source>只更新这次运行中没有成功的网关（固件必须相同）</source>
        <translation>Update only the gateways that did not succeed in this run (same firmware only)</translation>
    </message>
    <message>
        <source>运行ID（空：勾选的网关）</source>
        <translation>Run ID (empty: the ticked gateways)</translation>
    </message>
    <message>
        <source>失败重试</source>
        <translation>Retries</translation>
    </message>
    <message>
        <source>连接或链路失败时再试的次数，间隔2 s、4 s、8 s……；设备拒绝时不重试</source>
        <translation>How often to try again when the connection or link fails, after 2 s, 4 s, 8 s ...; never after the device refused</translation>
    </message>
    <message>
        <source> 次</source>
        <translation> times</translation>
    </message>
    <message>
        <source>网关</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>用时</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>开始批量更新</source>
        <translation>Start batch update</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>等待</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>更新中</source>
        <translation>Updating</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>跳过</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>正在更新 %1 个网关</source>
        <translation>Updating %1 gateways</translation>
    </message>
    <message>
        <source>完成：%1 成功，%2 失败，%3 跳过，用时 %4</source>
        <translation>Done: %1 succeeded, %2 failed, %3 skipped in %4</translation>
    </message>
</context>
<context>
    <name>BrokerIndicator</name>
    <message>
        <source>MQTT: 已连接 (connected)</source>
        <translation>MQTT: connected</translation>
    </message>
    <message>
        <source>MQTT: 连接中 (connecting)</source>
        <translation>MQTT: connecting</translation>
    </message>
    <message>
        <source>MQTT: 未连接 (down)</source>
        <translation>MQTT: down</translation>
    </message>
</context>
<context>
    <name>HistoryPage</name>
    <message>
        <source>目标（串口或网关ID）</source>
        <translation>Target (port or gateway ID)</translation>
    </message>
    <message>
        <source>设备地址</source>
        <translation>Device address</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>yyyy-MM-dd</source>
        <translation>yyyy-MM-dd</translation>
    </message>
    <message>
        <source>至</source>
        <translation>to</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>全部结果</source>
        <translation>All results</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>跳过</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>中断</source>
        <translation>Interrupted</translation>
    </message>
    <message>
        <source>进行中</source>
        <translation>Running</translation>
    </message>
    <message>
        <source>无法读取历史记录，详情见“日志”页</source>
        <translation>Cannot read the update records; see the Log tab</translation>
    </message>
    <message>
        <source>%1 条记录%2（%3）</source>
        <translation>%1%2 records (%3)</translation>
    </message>
    <message>
        <source>以上</source>
        <translation>+</translation>
    </message>
    <message>
        <source>已导出 %1 条记录到 %2</source>
        <translation>Exported %1 records to %2</translation>
    </message>
    <message>
        <source>导出失败：</source>
        <translation>Export failed: </translation>
    </message>
</context>
<context>
    <name>HistorySettingsDialog</name>
    <message>
        <source>历史记录设置</source>
        <translation>History settings</translation>
    </message>
    <message>
        <source>postgresql://USER@HOST:PORT/DB（空：本机文件）</source>
        <translation>postgresql://USER@HOST:PORT/DB (empty: local file)</translation>
    </message>
    <message>
        <source>共享的PostgreSQL服务器；密码取自PGPASSWORD或~/.pgpass，不写在这里</source>
        <translation>A shared PostgreSQL server; the password comes from PGPASSWORD or ~/.pgpass, never from here</translation>
    </message>
    <message>
        <source>记录库</source>
        <translation>Record store</translation>
    </message>
    <message>
        <source>工位名称</source>
        <translation>Station name</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>plovikKit</source>
        <translation>plovikKit</translation>
    </message>
    <message>
        <source>使用网络远程操作</source>
        <translation>Through the network (MQTT)</translation>
    </message>
    <message>
        <source>在线固件列表</source>
        <translation>Online firmware</translation>
    </message>
    <message>
        <source>输入过滤字符，比如固件名称或者说明中包含的字符</source>
        <translation>Filter: text in the firmware&apos;s name or description</translation>
    </message>
    <message>
        <source>获取固件</source>
        <translation>Get firmware</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>固件名称</source>
        <translation>Firmware name</translation>
    </message>
    <message>
        <source>MCU型号</source>
        <translation>MCU model</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>当前软件版本</source>
        <translation>Current version</translation>
    </message>
    <message>
        <source>开发者</source>
        <translation>Developer</translation>
    </message>
    <message>
        <source>归属</source>
        <translation>Owner</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>editer</source>
        <translation>editer</translation>
    </message>
    <message>
        <source>owder</source>
        <translation>owder</translation>
    </message>
    <message>
        <source>最新软件版本: </source>
        <translation>Latest version: </translation>
    </message>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>版本升级</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>固件名称：</source>
        <translation>Firmware name:</translation>
    </message>
    <message>
        <source>固件建立时间：</source>
        <translation>Created:</translation>
    </message>
    <message>
        <source>作者：</source>
        <translation>Author:</translation>
    </message>
    <message>
        <source>目标设备地址：</source>
        <translation>Device address:</translation>
    </message>
    <message>
        <source>固件起始地址：</source>
        <translation>Start address:</translation>
    </message>
    <message>
        <source>固件长度（Byte）：</source>
        <translation>Length (bytes):</translation>
    </message>
    <message>
        <source>更新预计用时：</source>
        <translation>Estimated time:</translation>
    </message>
    <message>
        <source>目标设备：</source>
        <translation>Target:</translation>
    </message>
    <message>
        <source>透传模块</source>
        <translation>Radio module</translation>
    </message>
    <message>
        <source>演示板</source>
        <translation>Demo board</translation>
    </message>
    <message>
        <source>网关设备</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>%p%</source>
        <translation>%p%</translation>
    </message>
    <message>
        <source>开始更新</source>
        <translation>Start update</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>plovikKit 固件升级工具</source>
        <translation>plovikKit firmware update tool</translation>
    </message>
    <message>
        <source>批量更新</source>
        <translation>Batch update</translation>
    </message>
    <message>
        <source>历史记录</source>
        <translation>History</translation>
    </message>
    <message>
        <source>发送hex命令</source>
        <translation>Sends hex commands</translation>
    </message>
    <message>
        <source>不发送任何命令，等待升级请求</source>
        <translation>Sends nothing and waits for the device&apos;s update request</translation>
    </message>
    <message>
        <source>发送json命令</source>
        <translation>Sends JSON commands</translation>
    </message>
    <message>
        <source>日志</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>mqtt参数</source>
        <translation>MQTT settings</translation>
    </message>
    <message>
        <source>调试跟踪</source>
        <translation>Debug trace</translation>
    </message>
    <message>
        <source>语言 / Language</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>中文</source>
        <translation>Chinese</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>界面语言将在下次启动时切换。</source>
        <translation>The new language shows from the next start.</translation>
    </message>
    <message>
        <source>固件更新正在进行。关闭窗口会中止更新，设备中的固件可能不完整。
确定关闭吗？</source>
        <translation>A firmware update is running. Closing the window aborts it, and the device&apos;s firmware may be left incomplete.
Close anyway?</translation>
    </message>
    <message>
        <source>批量更新正在进行。关闭窗口会中止所有网关的更新，它们的固件可能不完整。
确定关闭吗？</source>
        <translation>A batch update is running. Closing the window aborts every gateway&apos;s update, and their firmware may be left incomplete.
Close anyway?</translation>
    </message>
    <message>
        <source>请先登录或加载本地固件</source>
        <translation>Log in or open a local firmware file first</translation>
    </message>
    <message>
        <source>获取固件失败<byte value="xd"/>
</source>
        <translation>Getting the firmware failed<byte value="xd"/>
</translation>
    </message>
    <message>
        <source>云端固件：%1（序号 %2）</source>
        <translation>Cloud firmware: %1 (No. %2)</translation>
    </message>
    <message>
        <source>请检查串口连接或MQTT代理的连接</source>
        <translation>Check the serial connection or the connection to the MQTT broker</translation>
    </message>
    <message>
        <source>请检查固件文件以及设备报告的分包参数</source>
        <translation>Check the firmware file and the split lengths the device reported</translation>
    </message>
    <message>
        <source>请检查固件是否适合该设备以及目标设备类型</source>
        <translation>Check that the firmware suits the device, and the target kind</translation>
    </message>
    <message>
        <source>请检查目标设备类型、串口或网关ID以及设备电源</source>
        <translation>Check the target kind, the serial port or gateway ID, and the device&apos;s power</translation>
    </message>
    <message>
        <source>Image Files (*.bin)</source>
        <translation>Image Files (*.bin)</translation>
    </message>
    <message>
        <source>正在更新……点击“停止”可以中止。</source>
        <translation>Updating… press “Stop” to abort.</translation>
    </message>
    <message>
        <source>更新成功：设备已确认新固件。可以断开设备，或接上下一台设备再点击“开始更新”。</source>
        <translation>Update succeeded: the device confirmed the new firmware. Unplug it, or plug in the next device and press “Start update”.</translation>
    </message>
    <message>
        <source>没有可发送的固件：请先点击“打开文件”，或在“在线固件列表”中选择固件。</source>
        <translation>No firmware to send: press “Open file” first, or choose one under “Online firmware”.</translation>
    </message>
    <message>
        <source>更新已停止（完成 %1%）：%2。可以再次点击“开始更新”。</source>
        <translation>Update stopped (%1% done): %2. Press “Start update” to start again.</translation>
    </message>
    <message>
        <source>更新失败（完成 %1%）：%2。
%3，详情见“日志”页，然后再次点击“开始更新”。</source>
        <translation>Update failed (%1% done): %2.
%3; see the “Log” tab for details, then press “Start update” again.</translation>
    </message>
    <message>
        <source>量产</source>
        <translation>Production</translation>
    </message>
    <message>
        <source>量产正在进行。关闭窗口会中止各工位的更新，设备中的固件可能不完整。
确定关闭吗？</source>
        <translation>The production station is running. Closing the window stops the update on every slot; the firmware in those devices may be incomplete.
Close anyway?</translation>
    </message>
</context>
<context>
    <name>MyMqttConfig</name>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>服务器地址</source>
        <translation>Broker address</translation>
    </message>
    <message>
        <source>服务器端口号</source>
        <translation>Broker port</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>保活时间</source>
        <translation>Keep-alive (s)</translation>
    </message>
    <message>
        <source>设备Client ID</source>
        <translation>Client ID</translation>
    </message>
    <message>
        <source>启用TLS</source>
        <translation>Use TLS</translation>
    </message>
    <message>
        <source>CA证书文件</source>
        <translation>CA certificate file</translation>
    </message>
    <message>
        <source>空: 系统证书 (empty: the system&apos;s certificates)</source>
        <translation>empty: the system&apos;s certificates</translation>
    </message>
    <message>
        <source>清空日志</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <source>网关设备ID</source>
        <translation>Gateway ID</translation>
    </message>
    <message>
        <source>订阅</source>
        <translation>Subscribe</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>取消订阅</source>
        <translation>Unsubscribe</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>清空全部设置? config.ini 中的所有设置 (MQTT配置、网关列表、串口和账号) 都将被删除。</source>
        <translation>Clear all settings? Every setting in config.ini (MQTT profiles, gateway list, serial port and account) will be deleted.</translation>
    </message>
</context>
<context>
    <name>StationPage</name>
    <message>
        <source>工位（串口）</source>
        <translation>Slots (serial ports)</translation>
    </message>
    <message>
        <source>勾选的串口各是一个工位；有序列号的适配器以 serial:序列号 列出，换插口后仍是同一个工位</source>
        <translation>Each ticked port is a slot; an adapter with a serial number is listed as serial:SN and stays the same slot after a re-plug</translation>
    </message>
    <message>
        <source>每个出现的串口</source>
        <translation>Every port that appears</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>固件</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>目标</source>
        <translation>Target</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>模块</source>
        <translation>Module</translation>
    </message>
    <message>
        <source>演示板</source>
        <translation>Demo board</translation>
    </message>
    <message>
        <source>串口网关</source>
        <translation>Serial gateway</translation>
    </message>
    <message>
        <source>（未选择固件）</source>
        <translation>(no firmware chosen)</translation>
    </message>
    <message>
        <source>（内存中的固件）</source>
        <translation>(firmware in memory)</translation>
    </message>
    <message>
        <source>（开始时读取）</source>
        <translation>(read at start)</translation>
    </message>
    <message>
        <source>请勾选工位串口，或选择“每个出现的串口”</source>
        <translation>Tick the slots&apos; ports, or choose &quot;Every port that appears&quot;</translation>
    </message>
    <message>
        <source>波特率无效：%1</source>
        <translation>Invalid baud rate: %1</translation>
    </message>
    <message>
        <source>固件为空</source>
        <translation>The firmware is empty</translation>
    </message>
    <message>
        <source>运行中</source>
        <translation>Running</translation>
    </message>
    <message>
        <source>地址 %1 同时出现在两个工位</source>
        <translation>Address %1 seen on two slots at once</translation>
    </message>
    <message>
        <source>设备已取下</source>
        <translation>Device removed</translation>
    </message>
    <message>
        <source>通过 %1   失败 %2   良率 %3%   %4 台/小时   中位 %5 s</source>
        <translation>Passed %1   Failed %2   Yield %3%   %4 units/h   Median %5 s</translation>
    </message>
    <message>
        <source>失败按类别：</source>
        <translation>Failures by kind:</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
</context>
<context>
    <name>StationTile</name>
    <message>
        <source>等待</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>更新中</source>
        <translation>Updating</translation>
    </message>
    <message>
        <source>请检查：</source>
        <translation>Check: </translation>
    </message>
    <message>
        <source>请取下</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>%1 已更新，请取下设备</source>
        <translation>%1 done, remove the device</translation>
    </message>
</context>
<context>
    <name>appStartMessage</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>打不开用户文件</source>
        <translation>Cannot open the start page file</translation>
    </message>
</context>
<context>
    <name>mySerialPort</name>
    <message>
        <source>串口选择</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
</TS>
