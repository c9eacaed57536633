#include "module_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

namespace {

// The first copy stays loaded for the life of the process.
QMutex sharedMutex;
std::shared_ptr<ModuleInstance> sharedInstance;

// The module's file: named by the environment, or found beside the
// program, or left to the system's search (an empty result).
QString moduleFile()
{
    const QString named = qEnvironmentVariable("TAVRIN_MODULE");
    if (!named.isEmpty())
        return named;
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const char* relative : {TAVRIN_MODULE_BUILD_RELPATH, TAVRIN_MODULE_INSTALL_RELPATH}) {
        const QString candidate = programDir.filePath(QLatin1String(relative));
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

template <typename Function>
bool resolve(QLibrary& library, const char* name, Function& function, QStringList* missing)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    if (!function)
        missing->append(QLatin1String(name));
    return function != nullptr;
}

} // namespace

ModuleInstance::~ModuleInstance()
{
    // Unloading runs the module's teardown; a copy's file goes with its folder.
    library_.unload();
}

bool ModuleInstance::load(const QString& fileName, QString* error)
{
    if (fileName.isEmpty())
        library_.setFileNameAndVersion(QStringLiteral("tavrin"), 1);
    else
        library_.setFileName(fileName);
    if (!library_.load()) {
        *error = QStringLiteral("cannot load the Tavrin module (set TAVRIN_MODULE to its path): %1")
                     .arg(library_.errorString());
        return false;
    }
    QStringList missing;
    resolve(library_, "SetComInfo", SetComInfo, &missing);
    resolve(library_, "RegistCallBackFuncIntf", RegistCallBackFuncIntf, &missing);
    resolve(library_, "AddListReadVar", AddListReadVar, &missing);
    resolve(library_, "AddListWriteVar", AddListWriteVar, &missing);
    resolve(library_, "AddListOnceReadVar", AddListOnceReadVar, &missing);
    resolve(library_, "ReCreatReadVarList", ReCreatReadVarList, &missing);
    resolve(library_, "ComCommunication", ComCommunication, &missing);
    resolve(library_, "DataCom", DataCom, &missing);
    resolve(library_, "GetRegisterData", GetRegisterData, &missing);
    resolve(library_, "AddrStringToInt", AddrStringToInt, &missing);
    resolve(library_, "CheckAddrCorrect", CheckAddrCorrect, &missing);
    resolve(library_, "AddrMutilCopy", AddrMutilCopy, &missing);
    if (missing.isEmpty())
        return true;
    *error = QStringLiteral("%1 is not the Tavrin module: it lacks %2")
                 .arg(library_.fileName(), missing.join(QStringLiteral(", ")));
    library_.unload();
    return false;
}

std::shared_ptr<ModuleInstance> ModuleInstance::fromFile(const QString& fileName, QString* error)
{
    std::shared_ptr<ModuleInstance> instance(new ModuleInstance);
    if (!instance->load(fileName, error))
        return nullptr;
    return instance;
}

std::shared_ptr<ModuleInstance> ModuleInstance::shared(QString* error)
{
    QMutexLocker lock(&sharedMutex);
    if (!sharedInstance)
        sharedInstance = fromFile(moduleFile(), error);
    return sharedInstance;
}

std::shared_ptr<ModuleInstance> ModuleInstance::loadCopy(QString* error)
{
    const std::shared_ptr<ModuleInstance> first = shared(error);
    if (!first)
        return nullptr;
    auto dir = std::make_unique<QTemporaryDir>();
    const QString copy = dir->filePath(QFileInfo(first->fileName()).fileName());
    if (!dir->isValid() || !QFile::copy(first->fileName(), copy)) {
        *error = QStringLiteral("cannot copy the Tavrin module %1 for another line into %2")
                     .arg(first->fileName(), dir->path());
        return nullptr;
    }
    std::shared_ptr<ModuleInstance> instance = fromFile(copy, error);
    if (instance)
        instance->copyDir_ = std::move(dir);
    return instance;
}
