#include "core/song/instrument_names.h"

namespace zentrowe::song {

// General MIDI program names as the track list shows them: English, a space, the Chinese name,
// and (for most) one trailing space. The irregular spacing of a few entries is kept as it is:
// users compare these texts with what the program has always shown.
const std::array<std::string_view, 128> kInstrumentNames = {
    "Acoustic Grand Piano 大钢琴（声学钢琴） ",    // 0
    "Bright Acoustic Piano 明亮的钢琴 ",           // 1
    "Electric Grand Piano 电钢琴 ",                // 2
    "Honky-tonk Piano 酒吧钢琴 ",                  // 3
    "Rhodes Piano 柔和的电钢琴 ",                  // 4
    "Chorused Piano 加合唱效果的电钢琴 ",          // 5
    "Harpsichord 羽管键琴（拨弦古钢琴） ",         // 6
    "Clavichord 科拉维科特琴（击弦古钢琴） ",      // 7
    "Celesta 钢片琴 ",                             // 8
    "Glockenspiel 钟琴 ",                          // 9
    "Music box 八音盒 ",                           // 10
    "Vibraphone 颤音琴 ",                          // 11
    "Marimba 马林巴 ",                             // 12
    "Xylophone 木琴 ",                             // 13
    "Tubular Bells 管钟 ",                         // 14
    "Dulcimer 大扬琴 ",                            // 15
    "Hammond Organ 击杆风琴 ",                     // 16
    "Percussive Organ 打击式风琴 ",                // 17
    "Rock Organ 摇滚风琴 ",                        // 18
    "Church Organ 教堂风琴 ",                      // 19
    "Reed Organ 簧管风琴 ",                        // 20
    "Accordian 手风琴 ",                           // 21
    "Harmonica 口琴 ",                             // 22
    "Tango Accordian 探戈手风琴  ",                // 23
    "Acoustic Guitar (nylon) 尼龙弦吉他 ",         // 24
    "Acoustic Guitar (steel) 钢弦吉他 ",           // 25
    "Electric Guitar (jazz) 爵士电吉他 ",          // 26
    "Electric Guitar (clean) 清音电吉他 ",         // 27
    "Electric Guitar (muted) 闷音电吉他 ",         // 28
    "Overdriven Guitar 加驱动效果的电吉他 ",       // 29
    "Distortion Guitar 加失真效果的电吉他 ",       // 30
    "Guitar Harmonics 吉他和音  ",                 // 31
    "Acoustic Bass 大贝司（声学贝司） ",           // 32
    "Electric Bass(finger) 电贝司（指弹） ",       // 33
    "Electric Bass (pick)  电贝司（拨片） ",       // 34
    "Fretless Bass 无品贝司 ",                     // 35
    "Slap Bass 1 掌击Bass 1 ",                     // 36
    "Slap Bass 2 掌击Bass 2 ",                     // 37
    "Synth Bass 1 电子合成Bass 1 ",                // 38
    "Synth Bass 2 电子合成Bass 2 ",                // 39
    "Violin 小提琴 ",                              // 40
    "Viola 中提琴 ",                               // 41
    "Cello 大提琴 ",                               // 42
    "Contrabass 低音大提琴 ",                      // 43
    "Tremolo Strings 弦乐群颤音音色 ",             // 44
    "Pizzicato Strings 弦乐群拨弦音色 ",           // 45
    "Orchestral Harp 竖琴 ",                       // 46
    "Timpani 定音鼓 ",                             // 47
    "String Ensemble 1 弦乐合奏音色1 ",            // 48
    "String Ensemble 2 弦乐合奏音色2 ",            // 49
    "Synth Strings 1 合成弦乐合奏音色1 ",          // 50
    "Synth Strings 2 合成弦乐合奏音色2 ",          // 51
    "Choir Aahs 人声合唱“啊” ",                    // 52
    "Voice Oohs 人声“嘟” ",                        // 53
    "Synth Voice 合成人声 ",                       // 54
    "Orchestra Hit 管弦乐敲击齐奏 ",               // 55
    "Trumpet 小号 ",                               // 56
    "Trombone 长号 ",                              // 57
    "Tuba 大号 ",                                  // 58
    "Muted Trumpet 加弱音器小号 ",                 // 59
    "French Horn 法国号（圆号） ",                 // 60
    "Brass Section 铜管组（铜管乐器合奏音色） ",   // 61
    "Synth Brass 1 合成铜管音色1 ",                // 62
    "Synth Brass 2 合成铜管音色2 ",                // 63
    "Soprano Sax 高音萨克斯风 ",                   // 64
    "Alto Sax 次中音萨克斯风 ",                    // 65
    "Tenor Sax 中音萨克斯风 ",                     // 66
    "Baritone Sax低音萨克斯风 ",                   // 67
    "Oboe 双簧管 ",                                // 68
    "English Horn 英国管 ",                        // 69
    "Bassoon 巴松（大管） ",                       // 70
    "Clarinet 单簧管（黑管） ",                    // 71
    "Piccolo 短笛 ",                               // 72
    "Flute 长笛 ",                                 // 73
    "Recorder  竖笛 ",                             // 74
    "Pan Flute 排箫 ",                             // 75
    "Bottle Blow [中文名称暂缺]",                  // 76
    "Shakuhachi 日本尺八 ",                        // 77
    "Whistle 口哨声 ",                             // 78
    "Ocarina 奥卡雷那 ",                           // 79
    "Lead 1 (square) 合成主音1（方波） ",          // 80
    "Lead 2 (sawtooth) 合成主音2（锯齿波） ",      // 81
    "Lead 3 (caliope lead) 合成主音3 ",            // 82
    "Lead 4 (chiff lead) 合成主音4 ",              // 83
    "Lead 5 (charang) 合成主音5 ",                 // 84
    "Lead 6 (voice) 合成主音6（人声） ",           // 85
    "Lead 7 (fifths) 合成主音7（平行五度） ",      // 86
    "Lead 8 (bass+lead)合成主音8（贝司加主音） ",  // 87
    "Pad 1 (new age) 合成音色1（新世纪） ",        // 88
    "Pad 2 (warm) 合成音色2 （温暖） ",            // 89
    "Pad 3 (polysynth) 合成音色3 ",                // 90
    "Pad 4 (choir) 合成音色4 （合唱） ",           // 91
    "Pad 5 (bowed) 合成音色5 ",                    // 92
    "Pad 6 (metallic) 合成音色6 （金属声） ",      // 93
    "Pad 7 (halo) 合成音色7 （光环） ",            // 94
    "Pad 8 (sweep) 合成音色8 ",                    // 95
    "FX 1 (rain) 合成效果 1 雨声 ",                // 96
    "FX 2 (soundtrack) 合成效果 2 音轨 ",          // 97
    "FX 3 (crystal) 合成效果 3 水晶 ",             // 98
    "FX 4 (atmosphere) 合成效果 4 大气 ",          // 99
    "FX 5 (brightness) 合成效果 5 明亮 ",          // 100
    "FX 6 (goblins) 合成效果 6 鬼怪 ",             // 101
    "FX 7 (echoes) 合成效果 7 回声 ",              // 102
    "FX 8 (sci-fi) 合成效果 8 科幻 ",              // 103
    "Sitar 西塔尔（印度） ",                       // 104
    "Banjo 班卓琴（美洲） ",                       // 105
    "Shamisen  三昧线（日本） ",                   // 106
    "Koto 十三弦筝（日本） ",                      // 107
    "Kalimba 卡林巴 ",                             // 108
    "Bagpipe  风笛 ",                              // 109
    "Fiddle 民族提琴 ",                            // 110
    "Shanai 山奈 ",                                // 111
    "Tinkle Bell 叮当铃 ",                         // 112
    "Agogo [中文名称暂缺]",                        // 113
    "Steel Drums 钢鼓 ",                           // 114
    "Woodblock 木鱼 ",                             // 115
    "Taiko Drum 太鼓 ",                            // 116
    "Melodic Tom 通通鼓 ",                         // 117
    "Synth Drum  合成鼓 ",                         // 118
    "Reverse Cymbal 铜钹 ",                        // 119
    "Guitar Fret Noise 吉他换把杂音 ",             // 120
    "Breath Noise 呼吸声 ",                        // 121
    "Seashore 海浪声 ",                            // 122
    "Bird Tweet 鸟鸣 ",                            // 123
    "Telephone Ring 电话铃 ",                      // 124
    "Helicopter  直升机 ",                         // 125
    "Applause  鼓掌声 ",                           // 126
    "Gunshot 枪声 ",                               // 127
};

// One family for each group of eight programs.
const std::array<std::string_view, 16> kFamilyNames = {
    "钢琴 ",                   // programs 0 to 7
    "色彩打击乐器 ",           // programs 8 to 15
    "风琴 ",                   // programs 16 to 23
    "吉他 ",                   // programs 24 to 31
    "贝司 ",                   // programs 32 to 39
    "弦乐 ",                   // programs 40 to 47
    "合奏/合唱 ",              // programs 48 to 55
    "铜管 ",                   // programs 56 to 63
    "簧管 ",                   // programs 64 to 71
    "笛 ",                     // programs 72 to 79
    "合成主音 ",               // programs 80 to 87
    "合成音色 ",               // programs 88 to 95
    "合成效果 ",               // programs 96 to 103
    "民间乐器 ",               // programs 104 to 111
    "打击乐器 ",               // programs 112 to 119
    "Sound Effects 声音效果",  // programs 120 to 127
};

}  // namespace zentrowe::song
