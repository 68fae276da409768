<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ConnectionPage</name>
    <message>
        <source>连接成功</source>
        <translation>Connected</translation>
    </message>
</context>
<context>
    <name>ConnectionPageClass</name>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>重新连接</source>
        <translation>Reconnect</translation>
    </message>
    <message>
        <source>复位</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>字符最大间隔(ms)</source>
        <translation>Max. gap between characters (ms)</translation>
    </message>
    <message>
        <source>读超时(ms)</source>
        <translation>Read time-out (ms)</translation>
    </message>
    <message>
        <source>写超时(ms)</source>
        <translation>Write time-out (ms)</translation>
    </message>
</context>
<context>
    <name>DebugPage1</name>
    <message>
        <source>调试</source>
        <translation>Debug</translation>
    </message>
    <message>
        <source>工作模式</source>
        <translation>Work mode</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>模拟</source>
        <translation>Simulation</translation>
    </message>
    <message>
        <source>校准测试区背景光</source>
        <translation>Calibrate test area background light</translation>
    </message>
</context>
<context>
    <name>InstrVela</name>
    <message>
        <source>测试杯数量不足，需要添加。</source>
        <translation>Running short of test cups; please add more.</translation>
    </message>
    <message>
        <source>废液瓶满。</source>
        <translation>Waste bottle full.</translation>
    </message>
    <message>
        <source>清洗液空。</source>
        <translation>Wash solution empty.</translation>
    </message>
    <message>
        <source>机器门已打开。</source>
        <translation>Instrument door open.</translation>
    </message>
    <message>
        <source>试剂抽屉已打开。</source>
        <translation>Reagent drawer open.</translation>
    </message>
    <message>
        <source>试管架抽屉已打开。</source>
        <translation>Tube rack drawer open.</translation>
    </message>
    <message>
        <source>卷带抽屉已打开。</source>
        <translation>Tape drawer open.</translation>
    </message>
    <message>
        <source>与仪器的连接已断开</source>
        <translation>The connection to the instrument was lost</translation>
    </message>
    <message>
        <source>选择仪器</source>
        <translation>Select Instrument</translation>
    </message>
    <message>
        <source>请选择一个要连接的仪器</source>
        <translation>Please select the instrument to connect to</translation>
    </message>
    <message>
        <source>没有可用设备</source>
        <translation>No device available</translation>
    </message>
    <message>
        <source>预温区</source>
        <translation>Pre-warm</translation>
    </message>
    <message>
        <source>测试区</source>
        <translation>Test area</translation>
    </message>
    <message>
        <source>制冷区</source>
        <translation>Cooling</translation>
    </message>
    <message>
        <source>仪器</source>
        <translation>Instrument</translation>
    </message>
    <message>
        <source>光学法</source>
        <translation>Optical</translation>
    </message>
    <message>
        <source>磁珠法</source>
        <translation>Magnetic bead</translation>
    </message>
    <message>
        <source>测试编号:</source>
        <translation>Test ID:</translation>
    </message>
    <message>
        <source>样本位置:</source>
        <translation>Sample position:</translation>
    </message>
    <message>
        <source>测试项目:</source>
        <translation>Test item:</translation>
    </message>
    <message>
        <source>稀释倍数:1/</source>
        <translation>Dilution: 1/</translation>
    </message>
    <message>
        <source>测试方法:</source>
        <translation>Method:</translation>
    </message>
    <message>
        <source>测试日期:</source>
        <translation>Test date:</translation>
    </message>
    <message>
        <source>测试通道:</source>
        <translation>Test channel:</translation>
    </message>
    <message>
        <source>预温超时:</source>
        <translation>Pre-warm time-out:</translation>
    </message>
    <message>
        <source>错误信息:</source>
        <translation>Error:</translation>
    </message>
    <message>
        <source>返回指令:</source>
        <translation>Reply:</translation>
    </message>
    <message>
        <source>没有回应</source>
        <translation>No reply</translation>
    </message>
    <message>
        <source>曲线数据不完整</source>
        <translation>Curve data incomplete</translation>
    </message>
    <message>
        <source>测试结果查询失败: %1</source>
        <translation>Querying the test result failed: %1</translation>
    </message>
    <message>
        <source>没有给%1指定位置</source>
        <translation>No position assigned to %1</translation>
    </message>
    <message>
        <source>与仪器的连接已断开，所选仪器已不在列表中，不再自动重新连接</source>
        <translation>The connection to the instrument was lost; the chosen analyzer is no longer listed, so the driver no longer reconnects by itself</translation>
    </message>
    <message>
        <source>仪器%1已不在列表中</source>
        <translation>Analyzer %1 is no longer listed</translation>
    </message>
    <message>
        <source>仪器连续%1次拒绝此测试（%2），仍在重试，请检查仪器</source>
        <translation>The analyzer refused this test %1 times in a row (%2); still retrying, please check the analyzer</translation>
    </message>
    <message>
        <source>仪器已丢失此测试，没有结果，请重新测定此样本</source>
        <translation>The analyzer lost this test; there is no result, please run this sample again</translation>
    </message>
    <message>
        <source>曲线数据不完整，只读到%1个点</source>
        <translation>Curve incomplete: only %1 points were read</translation>
    </message>
    <message>
        <source>稀释倍数1/%1超出仪器范围（最大1/%2），此项目不能在仪器上测定</source>
        <translation>Dilution 1/%1 is beyond the analyzer&apos;s range (at most 1/%2); this assay cannot be run on the analyzer</translation>
    </message>
    <message>
        <source>测试记录文件已损坏，已另存，新的记录文件开始使用：%1</source>
        <translation>The test record file was damaged; it has been kept aside and a new record file is in use: %1</translation>
    </message>
    <message>
        <source>无法写入测试记录文件（%1），不再向仪器放置测试。请检查磁盘空间和数据文件夹后重新连接仪器。</source>
        <translation>The test record file cannot be written (%1); no more tests are placed on the analyzer. Check the disk space and the data folder, then connect the analyzer again.</translation>
    </message>
    <message>
        <source>此结果在主机重新启动前已测得，由测试记录补回</source>
        <translation>Measured before the host restarted; restored from the test record</translation>
    </message>
    <message>
        <source>仪器在主机停止期间丢失了此测试</source>
        <translation>The analyzer lost this test while the host was down</translation>
    </message>
    <message>
        <source>样本%1 位置%2 项目%3</source>
        <translation>sample %1 position %2 assay %3</translation>
    </message>
    <message>
        <source>没有待测项目认领此测试</source>
        <translation>No queued assay claimed this test</translation>
    </message>
    <message>
        <source>主机重新启动前放到仪器上的测试没有对应的待测项目，已从仪器释放：%1</source>
        <translation>Tests placed on the analyzer before the host restarted have no queued assay and were released from the analyzer: %1</translation>
    </message>
    <message>
        <source>样本已被删除</source>
        <translation>The sample was deleted</translation>
    </message>
    <message>
        <source>样本在放置前已被删除</source>
        <translation>The sample was deleted before it was placed</translation>
    </message>
</context>
<context>
    <name>ManualTest</name>
    <message>
        <source>---.-</source>
        <translation>---.-</translation>
    </message>
    <message>
        <source>停止计时</source>
        <translation>Stop timer</translation>
    </message>
    <message>
        <source>开始计时</source>
        <translation>Start timer</translation>
    </message>
    <message>
        <source>手动测试切换失败
%1</source>
        <translation>Switching to manual test failed
%1</translation>
    </message>
    <message>
        <source>发送测试指令失败
%1</source>
        <translation>Sending the test command failed
%1</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>没有回应</source>
        <translation>No reply</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>通道 %1: 样本 %2, %3</source>
        <translation>Channels %1: sample %2, %3</translation>
    </message>
    <message>
        <source>以下通道的结果属于同一样本的同一项目, 未保存:
%1
请更改样本号后再保存。</source>
        <translation>Nothing was saved: these channels hold results for the same sample and assay:
%1
Change the sample number, then save again.</translation>
    </message>
    <message>
        <source>光学法</source>
        <translation>Optical</translation>
    </message>
    <message>
        <source>磁珠法</source>
        <translation>Magnetic bead</translation>
    </message>
</context>
<context>
    <name>ManualTestClass</name>
    <message>
        <source>手动测试</source>
        <translation>Manual Test</translation>
    </message>
    <message>
        <source>通道号</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>样本号</source>
        <translation>Sample No.</translation>
    </message>
    <message>
        <source>测试项目</source>
        <translation>Assay</translation>
    </message>
    <message>
        <source>稀释比例</source>
        <translation>Dilution</translation>
    </message>
    <message>
        <source>测试方法</source>
        <translation>Method</translation>
    </message>
    <message>
        <source>预温</source>
        <translation>Pre-warm</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>光学法</source>
        <translation>Optical</translation>
    </message>
    <message>
        <source>开始计时</source>
        <translation>Start timer</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>---.-</source>
        <translation>---.-</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>测试倒计时</source>
        <translation>Test countdown</translation>
    </message>
    <message>
        <source>秒</source>
        <translation> s</translation>
    </message>
</context>
<context>
    <name>NavigateDialog</name>
    <message>
        <source>手动调整</source>
        <translation>Manual Adjustment</translation>
    </message>
    <message>
        <source>使用方向键或点击按钮来调整</source>
        <translation>Adjust with the arrow keys or the buttons</translation>
    </message>
</context>
<context>
    <name>ProbePositionPage</name>
    <message>
        <source>探测点位</source>
        <translation>Probe Positions</translation>
    </message>
    <message>
        <source>加样臂</source>
        <translation>Dispense arm</translation>
    </message>
    <message>
        <source>测试针编号</source>
        <translation>Probe number</translation>
    </message>
    <message>
        <source>手动调整第一点位</source>
        <translation>Adjust first position by hand</translation>
    </message>
    <message>
        <source>温度</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>设定值</source>
        <translation>Set value</translation>
    </message>
    <message>
        <source>偏差</source>
        <translation>Bias</translation>
    </message>
    <message>
        <source>卷带预温位</source>
        <translation>Tape pre-warm position</translation>
    </message>
    <message>
        <source>1号机械臂3号加样针</source>
        <translation>Arm 1, probe 3</translation>
    </message>
    <message>
        <source>1号机械臂4号加样针</source>
        <translation>Arm 1, probe 4</translation>
    </message>
    <message>
        <source>2号机械臂3号加样针</source>
        <translation>Arm 2, probe 3</translation>
    </message>
    <message>
        <source>2号机械臂4号加样针</source>
        <translation>Arm 2, probe 4</translation>
    </message>
    <message>
        <source>测试区域</source>
        <translation>Test area</translation>
    </message>
    <message>
        <source>制冷区域</source>
        <translation>Cooling area</translation>
    </message>
    <message>
        <source>进气口温度</source>
        <translation>Air inlet</translation>
    </message>
    <message>
        <source>散热片温度</source>
        <translation>Heat sink</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>测试位</source>
        <translation>Test wells</translation>
    </message>
    <message>
        <source>编号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>自动探全部点位</source>
        <translation>Probe all positions</translation>
    </message>
    <message>
        <source>部分探测</source>
        <translation>Partial probing</translation>
    </message>
    <message>
        <source>试剂位</source>
        <translation>Reagent positions</translation>
    </message>
    <message>
        <source>试管架</source>
        <translation>Tube rack</translation>
    </message>
    <message>
        <source>卷带位</source>
        <translation>Tape position</translation>
    </message>
    <message>
        <source>清洗位</source>
        <translation>Wash position</translation>
    </message>
    <message>
        <source>垃圾箱</source>
        <translation>Waste bin</translation>
    </message>
    <message>
        <source>开始探测</source>
        <translation>Start probing</translation>
    </message>
    <message>
        <source>加样量测定</source>
        <translation>Dispense volume</translation>
    </message>
    <message>
        <source>清洗针</source>
        <translation>Wash probe</translation>
    </message>
    <message>
        <source>&lt;font size=24 mm color=red&gt;&lt;p&gt;警告&lt;/p&gt;&lt;p&gt;请确认已经移除所有的&lt;/p&gt;&lt;p&gt;试剂瓶、试管、测试杯&lt;/p&gt;&lt;p&gt;然后继续&lt;/p&gt;&lt;/font&gt;</source>
        <translation>&lt;font size=24 mm color=red&gt;&lt;p&gt;Warning&lt;/p&gt;&lt;p&gt;Make sure that all reagent bottles,&lt;/p&gt;&lt;p&gt;tubes and test cups have been removed,&lt;/p&gt;&lt;p&gt;then continue&lt;/p&gt;&lt;/font&gt;</translation>
    </message>
    <message>
        <source>正在执行, 请稍候...</source>
        <translation>Working, please wait...</translation>
    </message>
    <message>
        <source>发现未知错误，可能仪器已经断开。</source>
        <translation>Unknown error: the instrument may be disconnected.</translation>
    </message>
    <message>
        <source>清选择要探测的点位。</source>
        <translation>Please select the positions to probe.</translation>
    </message>
    <message>
        <source>读取失败, 指令返回&apos;%1&apos;</source>
        <translation>Reading failed, the command returned &apos;%1&apos;</translation>
    </message>
    <message>
        <source>禁用</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <source>保存参数成功.</source>
        <translation>Parameters saved.</translation>
    </message>
</context>
</TS>
